#include "install/Session.h"

#include <cstring>
#include <vector>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "support/File.h"
#include "support/Handle.h"
#include "support/Log.h"
#include "support/TempFiles.h"

namespace {

// Between the tries of a download the window's pump gets its turn at least this often.
const DWORD kWaitPumpMs = 100;

// Opens the file for reading while letting nobody write, rename or delete it.
std::shared_ptr<CFileHandle> Hold(const std::wstring& path) {
  auto hold = std::make_shared<CFileHandle>(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return *hold ? hold : nullptr;
}

// True when the held file holds exactly these bytes. The file was written through another handle; between
// that handle's close and the hold, another process could have replaced it.
bool HoldsExactly(HANDLE file, const CBuffer& body) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart != body.Length()) return false;
  std::vector<uint8_t> chunk(1 << 20);
  const uint8_t* expected = static_cast<const uint8_t*>(body.GetData());
  uint32_t remaining = body.Length();
  while (remaining > 0) {
    DWORD read = 0;
    DWORD want = remaining < chunk.size() ? remaining : static_cast<DWORD>(chunk.size());
    if (!ReadFile(file, chunk.data(), want, &read, nullptr) || read != want) return false;
    if (std::memcmp(chunk.data(), expected, read) != 0) return false;
    expected += read;
    remaining -= read;
  }
  LARGE_INTEGER start = {};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

// Writes the whole buffer to a new file at path. The name is in the private folder, so anything already
// there (a file, or a link to somebody's file) was put there by somebody else: the file is made new, never
// opened, and a link or reparse point of that name is not followed. A short write or a failed close (a full
// disk) removes what was written: a truncated installer must never be verified and run.
bool WriteInstaller(const std::wstring& path, const CBuffer& body) {
  CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  const uint8_t* data = static_cast<const uint8_t*>(body.GetData());
  uint32_t remaining = body.Length();
  bool ok = true;
  while (ok && remaining > 0) {
    DWORD written = 0;
    ok = WriteFile(file.Get(), data, remaining, &written, nullptr) && written > 0;
    data += written;
    remaining -= written;
  }
  ok = CloseHandle(file.Detach()) && ok;
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

}  // namespace

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

bool CInstallSession::DownloadProduct(ProductInfo& product, std::wstring& installerPath, std::wstring& errorText,
                                      IUrlLoaderCallback* callback) {
  product.installerHold.reset();
  bool downloaded = false;
  std::shared_ptr<CFileHandle> hold;
  if (!product.localFile.empty()) {
    installerPath = product.localFile;
    // Written by this program on an earlier start unless the manifest named it.
    downloaded = product.fromUrl;
  } else if (!product.fromUrl) {
    installerPath = product.location;
  } else {
    CBuffer body;
    bool cancelled = false;
    // One byte past what may come, so a body that is too long is told from one that fits exactly.
    DWORD cap = product.length != 0 && product.length < kLargestInstaller ? static_cast<DWORD>(product.length) + 1
                                                                          : kLargestInstaller + 1;
    bool loaded = FetchUrl(product.location, body, product, cancelled, errorText, callback, cap);
    if (!loaded) {
      if (!cancelled && errorText.empty()) errorText = LoadResString(kUnknownFailure);
      return false;
    }
    if (cancelled) {
      errorText.clear();
      return false;
    }
    if (product.length == 0) {
      LogInfo(L"Size check of " + NameOf(product) + L": none, the manifest gives no size (" +
              std::to_wstring(body.Length()) + L" bytes arrived)");
    } else if (product.length != body.Length()) {
      LogError(L"Size check of " + NameOf(product) + L": FAILED, expected " + std::to_wstring(product.length) +
               L" bytes, got " + std::to_wstring(body.Length()));
      errorText = LoadResString(kSizeNotCorrect);
      return false;
    } else {
      LogInfo(L"Size check of " + NameOf(product) + L": passed, " + std::to_wstring(body.Length()) + L" bytes");
    }
    // Without a length to compare, a body over the cap is a download that failed: what was cut is no file.
    if (body.Length() > kLargestInstaller) {
      errorText = product.failureText.empty() ? LoadResString(kUnknownFailure) : product.failureText;
      return false;
    }
    installerPath = CTempFileController::Instance()->MakeTempPath(product.fileName.c_str());
    if (installerPath.empty() || !WriteInstaller(installerPath, body)) {
      LogError(L"The installer of " + NameOf(product) + L" could not be written to " + installerPath + L": error " +
               std::to_wstring(GetLastError()));
      errorText = product.failureText;
      return false;
    }
    downloaded = true;
    hold = Hold(installerPath);
    if (!hold || !HoldsExactly(hold->Get(), body)) {
      LogError(L"The installer of " + NameOf(product) + L" changed on disk before it could be held: not run");
      hold.reset();
      DeleteFileW(installerPath.c_str());
      errorText = product.failureText;
      return false;
    }
  }
  if (!hold) hold = Hold(installerPath);

  // Verified through the hold, so the verdict is about the very bytes that will run.
  SignatureVerdict verdict = VerifyFileSignature(installerPath, hold ? hold->Get() : nullptr, product.publisher);
  // A file that cannot be held (someone has it open for writing) is not run, whatever it says now.
  if (verdict == SignatureVerdict::Valid && !hold) {
    LogError(L"The installer " + installerPath + L" cannot be held against changes: not run");
    verdict = SignatureVerdict::Error;
  }
  if (verdict == SignatureVerdict::Valid) {
    product.installerHold = hold;
    return true;
  }
  hold.reset();
  errorText = LoadResString(VerdictMessageId(verdict));
  // Only what this program wrote is removed. A file that the manifest named is the user's: a manifest
  // from the network must not be able to delete any unsigned document on the disk.
  if (downloaded && FileExists(installerPath.c_str(), true)) DeleteFileW(installerPath.c_str());
  return false;
}
