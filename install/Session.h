// The install session: the two products, what the workflow decided so far, and its steps (read the
// manifests, download and verify the installers, run them). It reaches its window only through
// ISessionWindow, so tests drive it without one.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "install/Manifest.h"
#include "install/Product.h"
#include "install/RunInstaller.h"
#include "install/Signature.h"
#include "net/RetryingLoader.h"
#include "net/UrlLoader.h"
#include "support/Boundary.h"
#include "support/Buffer.h"
#include "support/MessagePump.h"

// The pages of the session, in the order a full install shows them.
enum Page : int {
  PageWelcome = 0,
  PageDownloadQuillora = 1,
  PageDownloadPagewing = 2,
  PageSetupQuillora = 3,
  PageSetupPagewing = 4,
  PageDone = 5,
};

// What the session needs of its window. The dialog implements it; tests script it.
class ISessionWindow {
 public:
  // A message box with the program's caption (string 31000); owned by the main window unless ownerless
  // (the cancel question has no owner). Returns the button pressed.
  virtual int ShowMessage(const std::wstring& text, UINT type, bool ownerless = false) = 0;
  // Shows the page's controls and repaints.
  virtual void SetPage(int page) = 0;
  virtual void ShowProgress(bool visible) = 0;
  virtual void SetProgress(DWORD range, DWORD position) = 0;
  virtual void EnableStart(bool enabled) = 0;
  // Ends the modal window with this result (1 after the launch button, 2 otherwise).
  virtual void Close(int result) = 0;
  // Puts the window behind the others, so a running installer's windows are in front.
  virtual void SendToBack() = 0;
  virtual void OpenWebPage(const std::wstring& url) = 0;
  // Handles what is waiting in the message queue, so the window stays alive during long steps.
  virtual void Pump() = 0;
  // Brings the open message box to the front (a second request for the same question).
  virtual void BringMessageToFront() = 0;
  virtual HWND Handle() const = 0;

 protected:
  ~ISessionWindow() = default;
};

// The partner's licence page for a user interface language: French and Japanese have their own, whatever
// the region; every other language reads the English one.
const wchar_t* PagewingLicenceFile(LANGID language);

class CInstallSession : public IUrlLoaderCallback, private IRetryWait {
 public:
  explicit CInstallSession(ISessionWindow& window) : window(window) {}
  virtual ~CInstallSession() = default;

  // The start button: read both manifests, download and verify what is needed, run the installers, and
  // end on the last page, back on the first, or with the window closed. The start button is disabled
  // while it runs and enabled again on every way out. Nothing it throws gets out: an unexpected failure
  // (memory running out) is told as the failure of the product at hand, and the window closes.
  void OnStart();
  // The close box or Esc, by page: closes on the first and last page, asks whether to cancel a download
  // (once: a request while the question is open brings it forward), moves the window back while an
  // installer runs.
  void OnCancel();
  // The launch button: starts the installed application with /PagewingSetup, then closes.
  void OnLaunch();
  // A link of the agreement text: opens the terms page it stands for. Always true (handled).
  bool OnLinkClicked(const std::wstring& target);
  void SetPage(int newPage);
  int GetPage() const { return page; }

  // Progress of an installer download: one bar over both downloads when both sizes are known, else one
  // per download over its own length. An exception in them is kept and thrown again after the load.
  void OnBegin(CUrlLoader* loader, const wchar_t* url, DWORD flags) override;
  void OnProgress(CUrlLoader* loader, DWORD received, DWORD contentLength, bool* cancel) override;
  void OnError(CUrlLoader* loader, DWORD error) override;
  void OnEnd(CUrlLoader* loader, bool cancelled) override;

  // Fetch and read a manifest into the product's record, then detect what is installed. True when the
  // manifest was accepted (now or before: an accepted manifest is never fetched again). On false the user
  // has been told why.
  bool ReadPagewingManifest();
  bool ReadQuilloraManifest();

  // Downloads url into buffer, trying again after a failure that may pass. False on failure; cancelled says whether the user asked for it, and
  // errorText receives the product's failure text when there is one and the user did not cancel.
  // maximumBytes caps the body (0: no cap); a longer one is cut there, for the caller's checks to refuse.
  bool FetchUrl(const std::wstring& url, CBuffer& buffer, const ProductInfo& product, bool& cancelled,
                std::wstring& errorText, IUrlLoaderCallback* callback, DWORD maximumBytes);

  // Obtains the product's installer as a verified file: the file already on disk, or a download checked
  // against the manifest's size and written to the temporary folder. False with the text to show (empty
  // when the user cancelled). Only a file this program wrote is deleted when it fails verification. On
  // success the product's installerHold keeps the file as verified until its installer's process has ended.
  bool DownloadProduct(ProductInfo& product, std::wstring& installerPath, std::wstring& errorText,
                       IUrlLoaderCallback* callback);

  // Starts path through the shell ("runas" when elevate and the system has elevation), waits for it when
  // asked while keeping the window alive, and asks the user what to do when it fails. A hold on the file
  // is let go when the call returns: once the process has ended, or could not be made. Messages sent by
  // other threads and processes are handled even after a quit message, which is left for the modal loop.
  int RunInstaller(const std::wstring& path, const std::wstring& params, bool elevate, bool wait,
                   std::shared_ptr<CFileHandle> hold = nullptr);

  ProductInfo pagewing{kPagewingRules.fileName, kPagewingRules.publisher};
  ProductInfo quillora{kQuilloraRules.fileName, kQuilloraRules.publisher};
  // The user confirmed that the download should stop. With a quit message (the window is closing) it is
  // the one thing the session asks to know whether to go on: see StopRequested.
  bool cancelRequested = false;
  // Counted afresh at every start.
  int pendingDownloads = 0;  // downloads counted in totalBytes and not yet ended
  uint64_t totalBytes = 0;   // expected sizes of the needed installers; 0 when one is not given
  uint64_t doneBytes = 0;    // expected sizes of the installers downloaded so far

 private:
  void Work();
  // The user cancelled, or the window is closing: nothing more is done, and nothing more is said.
  bool StopRequested() const { return cancelRequested || QuitQueued(); }
  void ShowDownloadProgress(DWORD received, DWORD contentLength, bool* cancel);
  bool ReadManifest(ProductInfo& product, const ProductRules& rules);
  // Between the tries of a download: keeps the window answering; false when the user cancelled or the
  // window is closing.
  bool Wait(DWORD milliseconds) override;
  // Download and verify one product on its page; false when the window was closed.
  bool FetchInstaller(ProductInfo& product, int downloadPage);
  // Run one product's installer on its page; the installer's result.
  int Install(ProductInfo& product, int setupPage);

  // The product's name in the run's log.
  std::wstring NameOf(const ProductInfo& product) const;
  // What its manifest offers against what is installed, and whether it is needed.
  void LogManifest(const ProductInfo& product) const;

  int page = PageWelcome;
  bool asking = false;                     // the cancel question is open
  const ProductInfo* current = nullptr;    // the product whose manifest or installer is at hand
  // Thrown in a loader callback, which none may unwind through: thrown again once the load is over.
  CKeptException callbackFailure;

  ISessionWindow& window;
};
