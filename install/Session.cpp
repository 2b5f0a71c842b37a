#include "install/Session.h"

#include <utility>
#include <vector>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "deployment.h"
#include "install/Detection.h"
#include "support/MessagePump.h"
#include "xml/XmlDocument.h"

const wchar_t kQuilloraManifestUrl[] = L"https://" CORVANE_UPDATE_HOST L"/public/QLWin5/update.xml";
const wchar_t kPagewingManifestUrl[] =
    L"https://" CORVANE_PARTNER_HOST L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml";
const wchar_t kPagewingChinaManifestUrl[] =
    L"https://" CORVANE_PARTNER_HOST L"/downloads/jp/download/xml/mgr/w-quillora/cn/PagewingInstall.xml";
const wchar_t kRegionCheckUrl[] = L"https://" CORVANE_REGION_HOST L"/location-check/";
const wchar_t kQuilloraPublisher[] = CORVANE_QUILLORA_PUBLISHER;
const wchar_t kPagewingPublisher[] = CORVANE_PAGEWING_PUBLISHER;

namespace {

const wchar_t kAgent[] = L"Quillora";
const DWORD kWaitPumpMs = 100;
// Always from the network, never into the cache: a stale manifest would install an old version.
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
const wchar_t kPagewingName[] = L"Pagewing Manager Quillora Edition";
const wchar_t kQuilloraParams[] = L"/passive /suppressclient";

const wchar_t* g_pagewingManifestUrl = nullptr;

std::wstring FromAnsi(const CBuffer& bytes) {
  if (bytes.Length() == 0) return std::wstring();
  const char* data = static_cast<const char*>(bytes.GetData());
  int length = MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(bytes.Length()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(bytes.Length()), &text[0], length);
  return text;
}

// An installer size: decimal digits only. Anything else (empty, "12ab", a sign, more than 64 bits) means
// "no size given", so the size check is skipped rather than made against a wrong number.
uint64_t ParseLength(const std::wstring& text) {
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

const CXMLString* AttributeValue(CXMLElement* element, const wchar_t* name) {
  CXMLAttribute* attribute = element->FindAttribute(name);
  return attribute ? &attribute->GetValue() : nullptr;
}

// Reads an accepted document into the record. False with the text of the first fatal error, or of the
// last one when the walk could go on after it.
bool ReadManifestDocument(CXMLDocument& document, ProductInfo& product, bool isPagewing, std::wstring& errorText) {
  CXMLElement* root = document.GetRoot();
  if (!root || !root->NameEquals(L"update")) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }
  CXMLElement* release = root->FindChild(L"release", 0);
  if (!release) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }
  if (const CXMLString* version = AttributeValue(release, L"version")) {
    std::wstring text = *version;
    // "5.8.1 beta": the main product's manifests put a label after the number.
    size_t space = text.find(L' ');
    if (!isPagewing && space != std::wstring::npos && space != 0) text.resize(space);
    product.manifestVersion = ParseVersion(text);
  }
  CXMLElement* executable = release->FindChild(L"executable", 0);
  if (!executable) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }

  bool result = true;
  auto fail = [&](UINT id) {
    result = false;
    errorText = LoadResString(id);
  };
  if (const CXMLString* length = AttributeValue(executable, L"length")) product.length = ParseLength(*length);
  // The partner's manifest must name exactly one source; the main product's prefers a local file.
  if (const CXMLString* url = AttributeValue(executable, L"url")) {
    if (isPagewing && !product.location.empty()) {
      fail(kUnexpectedXml);
    } else {
      product.fromUrl = true;
      product.location = *url;
    }
  }
  if (const CXMLString* file = AttributeValue(executable, L"file")) {
    if (isPagewing && !product.location.empty()) {
      fail(kUnexpectedXml);
    } else {
      product.fromUrl = false;
      product.location = *file;
      product.localFile = *file;
    }
  }
  if (isPagewing) {
    if (const CXMLString* params = AttributeValue(executable, L"params")) product.params = *params;
  } else {
    product.params = kQuilloraParams;
  }
  if (product.location.empty()) fail(kNoUrlSpecified);
  return result;
}

}  // namespace

const wchar_t* GetPagewingManifestUrl() {
  if (g_pagewingManifestUrl) return g_pagewingManifestUrl;
  g_pagewingManifestUrl = kPagewingManifestUrl;
  CBuffer body;
  // Five letters are the answer we look for: a body much longer than that is not it, and the decision may
  // not hold "Get Started" up for long, whatever the server does.
  CRetryingLoader loader(nullptr, kAgent, nullptr, kLargestRegionAnswer);
  loader.SetTimeLimit(kRegionCheckTimeLimitMs);
  // The whole body, exactly: "CHINA" with a line break or in lower case is not the answer we look for.
  if (loader.Load(body, kRegionCheckUrl, kRequestFlags) && FromAnsi(body) == L"CHINA")
    g_pagewingManifestUrl = kPagewingChinaManifestUrl;
  return g_pagewingManifestUrl;
}

void ForgetPagewingManifestUrlForTesting() { g_pagewingManifestUrl = nullptr; }

bool CInstallSession::FetchUrl(const std::wstring& url, CBuffer& buffer, const ProductInfo& product,
                               bool& cancelled, std::wstring& errorText, IUrlLoaderCallback* callback,
                               DWORD maximumBytes) {
  if (url.empty()) {
    errorText = LoadResString(kNoUrlSpecified);
    return false;
  }
  CRetryingLoader loader(callback, kAgent, this, maximumBytes);
  loader.SetCredentialOwner(window.Handle());
  callbackFailure.Forget();
  bool loaded = loader.Load(buffer, url.c_str(), kRequestFlags);
  callbackFailure.Throw();
  // The loader cannot tell a cancellation from a failure; the session can. A request given up because the
  // window is closing (a quit message) is no failure to tell the user about either.
  cancelled = loaded ? cancelRequested : StopRequested();
  if (!loaded && !cancelled && !product.failureText.empty()) errorText = product.failureText;
  return loaded;
}

bool CInstallSession::Wait(DWORD milliseconds) {
  // A cancel confirmed, or a close, while waiting ends the wait at once. The window's pump is where the
  // user acts, so it gets its turn every kWaitPumpMs even when no message comes.
  if (StopRequested()) return false;
  PumpedWaitRules rules;
  rules.pump = [this] {
    window.Pump();
    return !StopRequested();
  };
  rules.pumpEveryMs = kWaitPumpMs;
  return PumpedWait(nullptr, milliseconds, rules) == WaitEnd::TimedOut;
}

bool CInstallSession::ReadPagewingManifest() { return ReadManifest(Product::Pagewing); }
bool CInstallSession::ReadQuilloraManifest() { return ReadManifest(Product::Quillora); }

bool CInstallSession::ReadManifest(Product which) {
  const bool isPagewing = which == Product::Pagewing;
  ProductInfo& product = isPagewing ? pagewing : quillora;
  if (product.manifestRead) return true;
  product.Reset();
  current = &product;
  product.failureText = isPagewing ? FormatResString(kProductDownloadFailed, kPagewingName)
                                   : LoadResString(kQuilloraDownloadFailed);

  std::wstring errorText;
  bool accepted = false;
  bool cancelled = false;
  {
    CBuffer body;
    if (FetchUrl(isPagewing ? GetPagewingManifestUrl() : kQuilloraManifestUrl, body, product, cancelled, errorText,
                 nullptr, kLargestManifest)) {
      CXMLDocument document;
      if (body.Length() >= kLargestManifest) {
        // Cut at the cap: whatever the rest says, this is not a manifest.
        errorText = LoadResString(kUnexpectedXml);
      } else if (!document.LoadFromBuffer(body.GetData(), body.Length(), 1, nullptr)) {
        errorText = LoadResString(kUnexpectedXml) + L"\r\n" + XMLErrorName(document.GetError());
      } else {
        accepted = ReadManifestDocument(document, product, isPagewing, errorText);
      }
    }
  }
  if (!accepted) {
    if (!cancelled) window.ShowMessage(errorText, MB_OK | MB_ICONERROR);
    return false;
  }
  if (isPagewing) {
    DetectPagewing(product);
  } else {
    DetectQuillora(product);
  }
  product.manifestRead = true;
  return true;
}
