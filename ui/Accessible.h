// The window's content for assistive technology. Most of what the window shows is painted, not controls, so
// the window hands out one accessible object of its own for its client area (WM_GETOBJECT): its children
// are the painted texts of the current page and the visible controls, with role, name and state each.
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
};

// The items of a dialog's client area: each painted label (static text, its line breaks read as spaces),
// then each visible child control in tab order: buttons, check boxes (checked or not), progress bars (named
// progressName, valued in percent), a mark-up text followed by its links when it is `text`'s window. Names
// are the controls' window texts; disabled controls are unavailable, tab stops focusable, and the one with
// the keyboard focus (or the focused link) focused.
std::vector<AccessibleItem> DescribeWindow(HWND dialog, const std::vector<PaintedLabel>& labels,
                                           const CLiteText* text, const std::wstring& progressName);

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
// role client, with the items as simple-element children numbered from 1. Null when out of memory.
IAccessible* CreateWindowAccessible(HWND window, std::vector<AccessibleItem> items);

// WM_GETOBJECT's result for `object` (wParam as the message gave it); 0 when the system cannot marshal it.
LRESULT AccessibleResult(IAccessible* object, WPARAM wParam);

// Names a control that has no text of its own (a progress bar) through the system's annotation service.
// False when the system has none (Wine's answers E_NOTIMPL); the window's own object names it anyway.
bool AnnotateName(HWND control, const std::wstring& name);
