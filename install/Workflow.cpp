#include "app/Shell.h"
#include "app/StringIds.h"
#include "deployment.h"
#include "install/Detection.h"
#include "install/Session.h"
#include "support/Log.h"
#include "ui/TaskbarController.h"

namespace {

const wchar_t kQuilloraTermsUrl[] = L"http://" CORVANE_QUILLORA_TOS_HOST L"/legal/tos.php";
const wchar_t kPagewingTermsBase[] = L"http://" CORVANE_PAGEWING_TOS_HOST L"/imaging/quillora/downloads/";

std::wstring VersionText(const ProductVersion& v) {
  return std::to_wstring(v.major) + L"." + std::to_wstring(v.minor) + L"." + std::to_wstring(v.build) + L"." +
         std::to_wstring(v.revision);
}

// Re-enables the start button on every way out of the workflow.
class CStartButtonGuard {
 public:
  explicit CStartButtonGuard(ISessionWindow& window) : window(window) { window.EnableStart(false); }
  CStartButtonGuard(const CStartButtonGuard&) = delete;
  CStartButtonGuard& operator=(const CStartButtonGuard&) = delete;
  ~CStartButtonGuard() { window.EnableStart(true); }

 private:
  ISessionWindow& window;
};

}  // namespace

void CInstallSession::SetPage(int newPage) {
  page = newPage;
  window.SetPage(newPage);
}

void CInstallSession::OnStart() {
  CStartButtonGuard startButton(window);
  try {
    Work();
  } catch (...) {
    // Memory ran out (or the like) somewhere on the way: say so once, in the words of the product at
    // hand, and end. What was written is deleted by the at-exit drain as always.
    try {
      RunLog().RecordOutcome(RunOutcome::Failed, L"an unexpected failure" +
                                                     (current ? L" while handling " + NameOf(*current) : L""));
      std::wstring text = current && !current->failureText.empty() ? current->failureText
                                                                     : LoadResString(kUnknownFailure);
      window.ShowMessage(text, MB_OK | MB_ICONERROR);
    } catch (...) {
    }
    window.Close(IDCANCEL);
  }
  current = nullptr;
}

void CInstallSession::Work() {
  // Both manifests, always, in this order: the readers have told the user what went wrong.
  LogInfo(L"Start pressed");
  if (!ReadPagewingManifest() || !ReadQuilloraManifest()) {
    window.Close(IDCANCEL);
    return;
  }
  if (!pagewing.needed && !quillora.needed) {
    RunLog().RecordOutcome(RunOutcome::UpToDate, L"both products are installed in the offered version or later");
    SetPage(PageDone);
    return;
  }
  // Before Vista nothing can elevate: a product that needs an administrator cannot be installed.
  if (g_osMajor < 6 && ((pagewing.elevated && pagewing.needed) || (quillora.elevated && quillora.needed))) {
    RunLog().RecordOutcome(RunOutcome::Failed, L"an administrator is needed, and this system cannot elevate");
    window.ShowMessage(LoadResString(kAdministratorRequired), MB_OK | MB_ICONERROR);
    window.Close(IDCANCEL);
    return;
  }

  cancelRequested = false;
  // Every start counts from zero: after a failed installer and "continue", the bar starts over.
  pendingDownloads = 0;
  totalBytes = 0;
  doneBytes = 0;
  if ((pagewing.needed && pagewing.length == 0) || (quillora.needed && quillora.length == 0)) {
    // Without every size one bar cannot span both downloads: each runs over its own length.
  } else {
    for (const ProductInfo* product : {&pagewing, &quillora}) {
      if (!product->needed) continue;
      ++pendingDownloads;
      totalBytes += product->length;
    }
  }

  if (quillora.needed && !FetchInstaller(quillora, PageDownloadQuillora)) return;
  if (pagewing.needed && !FetchInstaller(pagewing, PageDownloadPagewing)) return;
  window.ShowProgress(false);

  if (quillora.needed) {
    int result = Install(quillora, PageSetupQuillora);
    if (result != InstallerSucceeded) return;
  }
  if (pagewing.needed) {
    if (Install(pagewing, PageSetupPagewing) != InstallerSucceeded) return;
  }
  RunLog().RecordOutcome(RunOutcome::Succeeded, L"every needed product was installed");
  SetPage(PageDone);
}

bool CInstallSession::FetchInstaller(ProductInfo& product, int downloadPage) {
  current = &product;
  SetPage(downloadPage);
  window.ShowProgress(true);
  std::wstring installerPath, errorText;
  if (!DownloadProduct(product, installerPath, errorText, this)) {
    if (errorText.empty())
      RunLog().RecordOutcome(cancelRequested ? RunOutcome::Cancelled : RunOutcome::Closed,
                             L"the download of " + NameOf(product) + L" was given up");
    else
      RunLog().RecordOutcome(RunOutcome::Failed, L"the installer of " + NameOf(product) + L" was not obtained");
    product.localFile.clear();
    // An empty text means the user cancelled: nothing more to say.
    if (!errorText.empty()) window.ShowMessage(errorText, MB_OK | MB_ICONERROR);
    window.Close(IDCANCEL);
    return false;
  }
  doneBytes += product.length;
  product.localFile = installerPath;
  return true;
}

int CInstallSession::Install(ProductInfo& product, int setupPage) {
  current = &product;
  SetPage(setupPage);
  int result = RunInstaller(product.localFile, product.params, product.elevated, true, product.installerHold);
  product.installerHold.reset();
  switch (result) {
    case InstallerSucceeded:
      product.needed = false;
      break;
    case InstallerFailedRetry:
      RunLog().RecordOutcome(RunOutcome::Failed,
                             L"the installer of " + NameOf(product) + L" failed; the user chose to try again");
      // The session keeps what it has: manifests stay read, the failed installer is verified and run again.
      SetPage(PageWelcome);
      break;
    default:
      RunLog().RecordOutcome(RunOutcome::Failed, L"the installer of " + NameOf(product) + L" failed");
      window.Close(IDCANCEL);
      break;
  }
  return result;
}

bool CInstallSession::ReadPagewingManifest() { return ReadManifest(pagewing, kPagewingRules); }
bool CInstallSession::ReadQuilloraManifest() { return ReadManifest(quillora, kQuilloraRules); }

bool CInstallSession::ReadManifest(ProductInfo& product, const ProductRules& rules) {
  if (product.manifestRead) return true;
  product.Reset();
  current = &product;
  product.failureText = rules.failureText();

  std::wstring errorText;
  bool accepted = false;
  bool cancelled = false;
  {
    CBuffer body;
    if (FetchUrl(rules.manifestUrl(), body, product, cancelled, errorText, nullptr, kLargestManifest))
      accepted = ReadManifestBody(body, product, rules, errorText);
  }
  if (!accepted) {
    if (cancelled) {
      RunLog().RecordOutcome(RunOutcome::Closed, L"the window closed while the manifest of " + NameOf(product) +
                                                     L" was read");
    } else {
      RunLog().RecordOutcome(RunOutcome::Failed, L"the manifest of " + NameOf(product) + L" was not accepted");
      window.ShowMessage(errorText, MB_OK | MB_ICONERROR);
    }
    return false;
  }
  rules.detect(product);
  product.manifestRead = true;
  LogManifest(product);
  return true;
}

void CInstallSession::LogManifest(const ProductInfo& product) const {
  std::wstring line = L"Manifest of " + NameOf(product) + L": offers " + VersionText(product.manifestVersion) +
                      L" from " + (product.fromUrl ? RedactUrl(product.location) : product.location) +
                      L" (size " + (product.length ? std::to_wstring(product.length) : std::wstring(L"not given")) +
                      L"); installed ";
  const bool installed = !product.installedVersion.IsZero();
  line += installed ? VersionText(product.installedVersion) : std::wstring(L"none");
  if (!product.needed) {
    line += L": not needed, the installed version is the offered one or later";
  } else {
    line += installed ? L": needed, the installed version is older" : L": needed, not installed";
    line += product.elevated ? L" (installs as administrator)" : L"";
  }
  LogInfo(line);
}

std::wstring CInstallSession::NameOf(const ProductInfo& product) const {
  if (&product == &pagewing) return L"Pagewing";
  if (&product == &quillora) return L"Quillora";
  return product.fileName;
}

void CInstallSession::OnCancel() {
  switch (page) {
    case PageWelcome:
    case PageDone:
      LogInfo(L"Window closed by the user");
      if (RunLog().GetOutcome() == RunOutcome::Unknown)
        RunLog().RecordOutcome(RunOutcome::Closed, L"closed before anything was installed");
      window.Close(IDCANCEL);
      break;
    case PageDownloadQuillora:
    case PageDownloadPagewing:
      // The download stops at its next progress report; the workflow then closes without a message.
      // One question at a time: a second request while it is open (the close box clicked again) finds
      // it, and its answer alone decides.
      if (asking) {
        window.BringMessageToFront();
      } else if (!cancelRequested) {
        struct CAsking {
          bool& flag;
          explicit CAsking(bool& flag) : flag(flag) { flag = true; }
          ~CAsking() { flag = false; }
        } open(asking);
        LogInfo(L"Cancel asked for during a download");
        cancelRequested =
            window.ShowMessage(LoadResString(kAreYouSure), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, true) == IDYES;
        LogInfo(cancelRequested ? L"The download is cancelled" : L"The download goes on");
      }
      break;
    case PageSetupQuillora:
    case PageSetupPagewing:
      // An installer cannot be interrupted from here; get out of its way instead.
      LogInfo(L"Close asked for while an installer runs: the window steps back");
      window.SendToBack();
      break;
    default:
      break;
  }
}

void CInstallSession::OnLaunch() {
  ProductInfo installed = quillora;
  GetInstalledProductInfo(installed, kQuilloraUpgradeCode);
  if (!installed.installLocation.empty()) {
    std::wstring application = installed.installLocation;
    // Windows Installer usually reports the folder with its trailing backslash, but not always.
    if (application.back() != L'\\' && application.back() != L'/') application += L'\\';
    application += L"Quillora.exe";
    RunInstaller(application, L"/PagewingSetup", false, false);
  }
  window.Close(IDOK);
}

const wchar_t* PagewingLicenceFile(LANGID language) {
  switch (PRIMARYLANGID(language)) {
    case LANG_FRENCH: return L"fr-eula.html";
    case LANG_JAPANESE: return L"jp-eula.html";
    default: return L"en-eula.html";
  }
}

bool CInstallSession::OnLinkClicked(const std::wstring& target) {
  std::wstring url;
  if (target == L"quillora:tos") {
    url = kQuilloraTermsUrl;
  } else if (target == L"pagewing:tos") {
    url = std::wstring(kPagewingTermsBase) + PagewingLicenceFile(GetUserDefaultUILanguage());
  }
  if (!url.empty()) window.OpenWebPage(url);
  return true;
}

void CInstallSession::OnBegin(CUrlLoader*, const wchar_t*, DWORD) {
  callbackFailure.Run([&] {
    CTaskbarController::Instance()->SetProgressState(window.Handle(), TBPF_NORMAL);
    window.Pump();
  });
}

void CInstallSession::OnProgress(CUrlLoader*, DWORD received, DWORD contentLength, bool* cancel) {
  if (callbackFailure.Holds() || !callbackFailure.Run([&] { ShowDownloadProgress(received, contentLength, cancel); }))
    *cancel = true;
}

void CInstallSession::ShowDownloadProgress(DWORD received, DWORD contentLength, bool* cancel) {
  uint64_t range = totalBytes > 0 ? totalBytes : contentLength;
  // A bar over both downloads starts where the first ended; a bar over one download starts at 0.
  uint64_t position = (totalBytes > 0 ? doneBytes : 0) + received;
  if (range > 0x7FFFFFFF) {
    // The progress bar takes signed 32-bit numbers: count in percent instead.
    position = static_cast<uint64_t>(static_cast<double>(position) * 100.0 / static_cast<double>(range));
    range = 100;
  }
  window.SetProgress(static_cast<DWORD>(range), static_cast<DWORD>(position));
  CTaskbarController::Instance()->SetProgressValue(window.Handle(), position, range);
  if (cancelRequested) *cancel = true;
  // A cancellation confirmed during this pump is seen at the next report.
  window.Pump();
}

void CInstallSession::OnError(CUrlLoader*, DWORD) {
  callbackFailure.Run([&] {
    CTaskbarController::Instance()->SetProgressState(window.Handle(), TBPF_NOPROGRESS);
    window.Pump();
  });
}

void CInstallSession::OnEnd(CUrlLoader*, bool) {
  callbackFailure.Run([&] {
    // Without a known total the counter was never raised and goes below zero; the state then stays as the
    // begin or error report left it.
    if (--pendingDownloads == 0)
      CTaskbarController::Instance()->SetProgressState(window.Handle(), TBPF_NOPROGRESS);
    window.Pump();
  });
}
