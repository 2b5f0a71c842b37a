// Whether an installer may run: the system's Authenticode verdict on the file, and the publisher pin on
// top of it (a signature the system trusts, but of somebody else's, is refused like a broken one).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

enum class SignatureVerdict { Valid = 0, NoSignature, Invalid, Disallowed, NotTrusted, Disabled, Error };

// Authenticode check of a file with the system's trust policy, no UI and no revocation check. With an open
// handle the check reads through it, so it judges exactly the file the handle holds. With a publisher, a
// signature the system trusts is still an Error unless the signer's certificate has that subject name.
// Whatever the publisher, a signature whose signer's chain fails the Authenticode chain policy (a root
// that no store trusts, above all) is an Error, even where WinVerifyTrust let it pass.
SignatureVerdict VerifyFileSignature(const std::wstring& path, HANDLE file = nullptr,
                                     const std::wstring& publisher = std::wstring());
// True when the certificate's subject has a common name and it is exactly name, over its whole length.
bool HasCommonName(PCCERT_CONTEXT certificate, const std::wstring& name);
// A verdict with the publisher pin applied: with a publisher, a Valid verdict stays Valid only when the
// signer of the verification kept in state has it as its common name; without state it is an Error.
SignatureVerdict PinnedVerdict(SignatureVerdict verdict, HANDLE state, const std::wstring& publisher);
// How a WinVerifyTrust result (and the last error that came with it) reads as a verdict.
SignatureVerdict VerdictFromTrustResult(LONG result, DWORD lastError);
// The message id of a verdict's text; 0 for Valid.
UINT VerdictMessageId(SignatureVerdict verdict);
