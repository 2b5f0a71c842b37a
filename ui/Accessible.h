// The window's content for assistive technology. Most of what the window shows is painted, not controls, so
// the window hands out one accessible object of its own for its client area (WM_GETOBJECT): it describes the
// page in its words, names the painted texts and the links of the agreement text, and leaves each real
// control to the system's own object for it, which knows the control's role, state and default action.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "support/Handle.h"
#include "ui/Painting.h"

class CLiteText;

struct AccessibleItem {
  std::wstring name;
  LONG role;   // ROLE_SYSTEM_*
  LONG state;  // STATE_SYSTEM_* bits
  std::wstring value;
  RECT screen;  // where it stands, in screen pixels
  // A real control: the system's object for it answers first, and the fields above speak only where that
  // object has nothing to say (an empty name, a system that knows no button).
  HWND control = nullptr;
  // A link: the text control that holds it, and its index there.
  HWND linkOwner = nullptr;
  int link = -1;
};

// What the window's object tells: the page's words and its items.
struct WindowContent {
  std::wstring description;
  std::vector<AccessibleItem> items;
};

// The content of a dialog's client area on `page`: its words as the description; as items each painted
// label (static text, its line breaks read as spaces), then each visible child control in tab order:
// buttons, check boxes (checked or not), the progress bar (named after the page's product, valued in
// percent), a mark-up text followed by its links when it is `text`'s window. Names are the controls'
// window texts; disabled controls are unavailable, tab stops focusable, and the one with the keyboard focus
// (or the focused link) focused.
WindowContent DescribeWindow(HWND dialog, const std::vector<PaintedLabel>& labels, const CLiteText* text,
                             int page);

template <class Interface>
struct ComReleaseTraits {
  using Type = Interface*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type object) noexcept { object->Release(); }
};
// Owns one reference to a COM object.
template <class Interface>
using CComOwnerT = CUniqueT<ComReleaseTraits<Interface>>;

// A new object (one reference, the caller's) for the client area of `window`: named by the window's title,
// described by the content's description, role client, with the items as children numbered from 1. A
// control's child is the system's object for it; a painted item is a simple element. Null when out of
// memory.
IAccessible* CreateWindowAccessible(HWND window, WindowContent content);

// WM_GETOBJECT's result for `object` (wParam as the message gave it); 0 when the system cannot marshal it.
LRESULT AccessibleResult(IAccessible* object, WPARAM wParam);

// The window shows another page: screen readers are told that the client area's children and description
// (the page's words) changed, and the description is a polite live region that they read out.
void AnnouncePage(HWND dialog);

// Names a control that has no text of its own (a progress bar) through the system's annotation service.
// False when the system has none (Wine's answers E_NOTIMPL); the window's own object names it anyway.
bool AnnotateName(HWND control, const std::wstring& name);
