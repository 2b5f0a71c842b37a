// A window for the install session that records what it is asked and answers message boxes from a script.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "install/Session.h"

struct ShownMessage {
  std::wstring text;
  UINT type;
  bool ownerless;
};

class CScriptedWindow : public ISessionWindow {
 public:
  int ShowMessage(const std::wstring& text, UINT type, bool ownerless) override {
    shown.push_back({text, type, ownerless});
    if (onShow) onShow();
    if (answers.empty()) return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }

  void SetPage(int page) override { pages.push_back(page); }
  void ShowProgress(bool visible) override { progressVisible = visible; }
  void SetProgress(DWORD range, DWORD position) override { progress.emplace_back(range, position); }
  void EnableStart(bool enabled) override { startEnabled.push_back(enabled); }
  void Close(int result) override { closedWith.push_back(result); }
  void SendToBack() override { ++sentToBack; }
  void OpenWebPage(const std::wstring& url) override { opened.push_back(url); }
  void Pump() override {
    ++pumps;
    if (onPump) onPump();
  }
  void BringMessageToFront() override { ++broughtToFront; }
  HWND Handle() const override { return nullptr; }

  std::vector<ShownMessage> shown;
  std::deque<int> answers;  // the next answers, in order; IDNO / IDOK when the script is out
  std::vector<int> pages;
  bool progressVisible = false;
  std::vector<std::pair<DWORD, DWORD>> progress;  // range, position
  std::vector<bool> startEnabled;
  std::vector<int> closedWith;
  int sentToBack = 0;
  std::vector<std::wstring> opened;
  int pumps = 0;
  std::function<void()> onPump;  // what "the user" does while a long step pumps messages
  std::function<void()> onShow;  // what "the user" does while a box is open
  int broughtToFront = 0;
};

// Path of a file in the build tree, relative to the folder of the running test program (bin/).
std::wstring BuildPath(const std::wstring& relative);
// The English text of a string-table entry, read from the real Installer.exe.
std::wstring English(UINT id);
