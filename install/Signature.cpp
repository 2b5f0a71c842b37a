#include "install/Signature.h"

#include <softpub.h>
#include <wintrust.h>

#include "app/StringIds.h"
#include "support/Log.h"
#include "support/SystemLibrary.h"

namespace {

// wintrust.dll from the system directory on first use; never from the program's folder.
LONG CallWinVerifyTrust(GUID* action, WINTRUST_DATA* data) {
  static const auto verify = SystemProc<LONG(WINAPI*)(HWND, GUID*, LPVOID)>(L"wintrust.dll", "WinVerifyTrust");
  if (!verify) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return TRUST_E_PROVIDER_UNKNOWN;
  }
  return verify(nullptr, action, data);
}

}  // namespace

SignatureVerdict VerdictFromTrustResult(LONG result, DWORD lastError) {
  switch (static_cast<HRESULT>(result)) {
    case 0:
      return SignatureVerdict::Valid;
    case TRUST_E_NOSIGNATURE:
      // The same result also stands for a signature that is there but unreadable; the last error tells.
      return lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
                     lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
                     lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN)
                 ? SignatureVerdict::NoSignature
                 : SignatureVerdict::Invalid;
    case TRUST_E_EXPLICIT_DISTRUST:
      return SignatureVerdict::Disallowed;
    case TRUST_E_SUBJECT_NOT_TRUSTED:
      return SignatureVerdict::NotTrusted;
    case CRYPT_E_SECURITY_SETTINGS:
      return SignatureVerdict::Disabled;
    default:
      return SignatureVerdict::Error;
  }
}

UINT VerdictMessageId(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::Valid: return 0;
    case SignatureVerdict::NoSignature: return kNoSignature;
    case SignatureVerdict::Invalid: return kSignatureInvalid;
    case SignatureVerdict::Disallowed: return kSignatureDisallowed;
    case SignatureVerdict::NotTrusted: return kSignatureNotTrusted;
    case SignatureVerdict::Disabled: return kSignatureDisabled;
    default: return kSignatureError;
  }
}

namespace {

// The (first) signer of a verification kept open in state; null when there is none.
CRYPT_PROVIDER_SGNR* SignerRecordOf(HANDLE state) {
  static const auto providerData = SystemProc<CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE)>(
      L"wintrust.dll", "WTHelperProvDataFromStateData");
  static const auto signerOf = SystemProc<CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD)>(
      L"wintrust.dll", "WTHelperGetProvSignerFromChain");
  if (!state || !providerData || !signerOf) return nullptr;
  CRYPT_PROVIDER_DATA* data = providerData(state);
  return data ? signerOf(data, 0, FALSE, 0) : nullptr;
}

// The signer's certificate of a verification kept open in state; null when there is none.
PCCERT_CONTEXT SignerOf(HANDLE state) {
  CRYPT_PROVIDER_SGNR* signer = SignerRecordOf(state);
  if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return nullptr;
  return signer->pasCertChain[0].pCert;
}

// True when the chain that the verification built for its signer ends in a root that this machine trusts
// and passes the Authenticode policy. Windows' WinVerifyTrust has refused any other chain already; Wine's
// builds the chain, marks an unknown root (one with a trusted root's name but another key, say) and still
// answers 0. The publisher pin compares only a name, so without this a foreign root could pose as ours.
// The chain is the verification's own, built for the signature's time, so a timestamped signature stays
// valid after its certificate expires. Revocation is not consulted, so its unknown status is no fault.
bool SignerChainIsTrusted(HANDLE state) {
  static const auto verifyPolicy =
      SystemProc<BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA, PCERT_CHAIN_POLICY_STATUS)>(
          L"crypt32.dll", "CertVerifyCertificateChainPolicy");
  CRYPT_PROVIDER_SGNR* signer = SignerRecordOf(state);
  if (!verifyPolicy || !signer || !signer->pChainContext) return false;
  const DWORD revocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  if ((signer->pChainContext->TrustStatus.dwErrorStatus & ~revocationUnknown) != 0) return false;
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  return verifyPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &policy, &status) &&
         status.dwError == 0;
}

}  // namespace

namespace {

// The subject's common name over its whole length (a NUL inside included); false when it has none.
bool CommonName(PCCERT_CONTEXT certificate, std::wstring& found) {
  static const auto nameOf = SystemProc<DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD)>(
      L"crypt32.dll", "CertGetNameStringW");
  if (!certificate || !nameOf) return false;
  // The common name itself: the display name would fall back to another attribute (the organisation,
  // the unit, an e-mail address) when the certificate has none.
  char* commonName = const_cast<char*>(szOID_COMMON_NAME);
  DWORD size = nameOf(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, nullptr, 0);
  if (size <= 1) return false;  // no common name: the size of the terminator alone
  found.assign(size, L'\0');
  size = nameOf(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, &found[0], size);
  if (size == 0 || size > found.size()) return false;
  found.resize(size - 1);
  return true;
}

// The name support looks a trust result up by.
const wchar_t* TrustResultName(LONG result) {
  switch (static_cast<HRESULT>(result)) {
    case 0: return L"trusted";
    case TRUST_E_NOSIGNATURE: return L"TRUST_E_NOSIGNATURE";
    case TRUST_E_BAD_DIGEST: return L"TRUST_E_BAD_DIGEST";
    case TRUST_E_EXPLICIT_DISTRUST: return L"TRUST_E_EXPLICIT_DISTRUST";
    case TRUST_E_SUBJECT_NOT_TRUSTED: return L"TRUST_E_SUBJECT_NOT_TRUSTED";
    case TRUST_E_PROVIDER_UNKNOWN: return L"TRUST_E_PROVIDER_UNKNOWN";
    case CRYPT_E_SECURITY_SETTINGS: return L"CRYPT_E_SECURITY_SETTINGS";
    case CERT_E_UNTRUSTEDROOT: return L"CERT_E_UNTRUSTEDROOT";
    case CERT_E_CHAINING: return L"CERT_E_CHAINING";
    case CERT_E_EXPIRED: return L"CERT_E_EXPIRED";
    case CERT_E_REVOKED: return L"CERT_E_REVOKED";
    default: return L"another trust failure";
  }
}

const wchar_t* VerdictName(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::Valid: return L"valid";
    case SignatureVerdict::NoSignature: return L"no signature";
    case SignatureVerdict::Invalid: return L"invalid";
    case SignatureVerdict::Disallowed: return L"disallowed";
    case SignatureVerdict::NotTrusted: return L"not trusted";
    case SignatureVerdict::Disabled: return L"disabled by policy";
    default: return L"error";
  }
}

}  // namespace

bool HasCommonName(PCCERT_CONTEXT certificate, const std::wstring& name) {
  std::wstring found;
  // Compared over its whole length: a name with a NUL inside must not pass as the part before it.
  return CommonName(certificate, found) && found == name;
}

SignatureVerdict PinnedVerdict(SignatureVerdict verdict, HANDLE state, const std::wstring& publisher) {
  if (publisher.empty() || verdict != SignatureVerdict::Valid) return verdict;
  // Without the verification's state there is no signer to compare: that is a refusal, not a pass. A
  // trusted signature of somebody else's is refused like a broken one.
  return HasCommonName(SignerOf(state), publisher) ? verdict : SignatureVerdict::Error;
}

SignatureVerdict VerifyFileSignature(const std::wstring& path, HANDLE handle, const std::wstring& publisher) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  file.hFile = handle;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  // The signer and its chain are only known while the verification's state is kept: then it must be closed
  // again, on every way out.
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  struct CStateCloser {
    GUID& action;
    WINTRUST_DATA& data;
    ~CStateCloser() {
      if (!data.hWVTStateData) return;
      data.dwStateAction = WTD_STATEACTION_CLOSE;
      CallWinVerifyTrust(&action, &data);
    }
  } closer{action, data};
  LONG result = CallWinVerifyTrust(&action, &data);
  SignatureVerdict verdict = VerdictFromTrustResult(result, GetLastError());
  const bool chainTrusted = verdict == SignatureVerdict::Valid && SignerChainIsTrusted(data.hWVTStateData);
  if (verdict == SignatureVerdict::Valid && !chainTrusted) verdict = SignatureVerdict::Error;
  const SignatureVerdict pinned = PinnedVerdict(verdict, data.hWVTStateData, publisher);
  if (RunLog().IsOn()) {
    std::wstring signer;
    bool named = CommonName(SignerOf(data.hWVTStateData), signer);
    std::wstring line = L"Signature of " + path + L": trust result " + HexCode(static_cast<DWORD>(result)) + L" (" +
                        TrustResultName(result) + L"), signer " + (named ? L"\"" + signer + L"\"" : L"unknown");
    if (result == 0) line += chainTrusted ? L", chain trusted" : L", chain NOT trusted";
    if (!publisher.empty()) line += L", expected publisher \"" + publisher + L"\"";
    line += L": verdict " + std::wstring(VerdictName(pinned));
    if (pinned == SignatureVerdict::Valid) LogInfo(line);
    else LogError(line);
  }
  return pinned;
}
