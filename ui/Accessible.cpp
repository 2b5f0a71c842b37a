// First, so the annotation service's ids, which no import library of ours holds, are defined here.
#include <initguid.h>

#include "ui/Accessible.h"

#include <commctrl.h>

#include <cstdint>
#include <new>
#include <utility>

#include "support/SystemLibrary.h"
#include "ui/LiteText.h"

namespace {

// Live regions came with Windows 8, after the headers this program builds against.
constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
constexpr LONG kPoliteLiveSetting = 1;        // LiveSetting: read out when the reader is done speaking
// The annotation service's property for it (LiveSetting_Property_GUID).
const GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};

// oleacc and oleaut32 are not known DLLs of every Windows version: they come from the system directory.
BSTR AllocString(const std::wstring& text) {
  static const auto alloc = SystemProc<decltype(&::SysAllocStringLen)>(L"oleaut32.dll", "SysAllocStringLen");
  return alloc ? alloc(text.c_str(), static_cast<UINT>(text.size())) : nullptr;
}

void FreeString(BSTR text) {
  static const auto free = SystemProc<decltype(&::SysFreeString)>(L"oleaut32.dll", "SysFreeString");
  if (text && free) free(text);
}

void ClearVariant(VARIANT& value) {
  static const auto clear = SystemProc<decltype(&::VariantClear)>(L"oleaut32.dll", "VariantClear");
  if (clear) clear(&value);
}

HRESULT CreateSystemObject(HWND window, LONG objectId, REFIID iid, void** out) {
  static const auto create =
      SystemProc<decltype(&::CreateStdAccessibleObject)>(L"oleacc.dll", "CreateStdAccessibleObject");
  *out = nullptr;
  return create ? create(window, objectId, iid, out) : E_NOTIMPL;
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], length + 1)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

VARIANT Self() {
  VARIANT self = {};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  return self;
}

bool IsButton(const AccessibleItem& item) {
  return item.control && (item.role == ROLE_SYSTEM_PUSHBUTTON || item.role == ROLE_SYSTEM_CHECKBUTTON);
}

class CWindowAccessible : public IAccessible {
 public:
  CWindowAccessible(HWND window, WindowContent content)
      : window(window),
        description(std::move(content.description)),
        items(std::move(content.items)),
        systems(items.size()),
        systemKnows(items.size(), false) {
    for (size_t i = 0; i < items.size(); ++i) {
      if (!items[i].control ||
          FAILED(CreateSystemObject(items[i].control, OBJID_CLIENT, __uuidof(IAccessible),
                                    reinterpret_cast<void**>(systems[i].Put())))) {
        systems[i].Reset();
        continue;
      }
      // An object that calls a button a plain client area knows nothing of buttons (Wine's does so):
      // what the control is and does then comes from the item.
      VARIANT role = {};
      systemKnows[i] = systems[i].Get()->get_accRole(Self(), &role) == S_OK && role.vt == VT_I4 &&
                       role.lVal != ROLE_SYSTEM_CLIENT;
      ClearVariant(role);
    }
  }
  virtual ~CWindowAccessible() = default;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: clients use the interface's own methods.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    return CreateSystemObject(window, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent)) == S_OK
               ? S_OK
               : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<long>(items.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Item(child)) return E_INVALIDARG;
    // A control is the system's object, as in any dialog; a painted item is a simple element, asked of
    // this object.
    IAccessible* system = SystemObject(child);
    return system && system->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out)) == S_OK ? S_OK
                                                                                                  : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    // A control's own text, or (for a progress bar, which has none) the item's.
    if (SystemText(child, name,
                   [](IAccessible* system, BSTR* out) { return system->get_accName(Self(), out); }))
      return S_OK;
    return Text(child, name,
                [&](const AccessibleItem* item) { return item ? item->name : WindowText(window); });
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (!value) return E_POINTER;
    if (SystemText(child, value,
                   [](IAccessible* system, BSTR* out) { return system->get_accValue(Self(), out); }))
      return S_OK;
    return Text(child, value, [](const AccessibleItem* item) { return item ? item->value : std::wstring(); });
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accDescription(Self(), out);
    return Text(child, out, [&](const AccessibleItem* item) { return item ? std::wstring() : description; });
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accRole(Self(), role);
    return Number(child, role,
                  [](const AccessibleItem* item) { return item ? item->role : ROLE_SYSTEM_CLIENT; });
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accState(Self(), state);
    return Number(child, state, [](const AccessibleItem* item) { return item ? item->state : 0L; });
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accHelp(Self(), out);
    return Nothing(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accHelpTopic(file, Self(), topic);
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return IsSelf(child) || Item(child) ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accKeyboardShortcut(Self(), out);
    return Nothing(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    focus->vt = VT_EMPTY;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].state & STATE_SYSTEM_FOCUSED) {
        focus->vt = VT_I4;
        focus->lVal = static_cast<LONG>(i + 1);
        return S_OK;
      }
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_POINTER;
    selection->vt = VT_EMPTY;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    if (IAccessible* system = KnowingSystem(child)) return system->get_accDefaultAction(Self(), out);
    // What the system's own button objects say, for a system whose objects do not know buttons.
    return Text(child, out, [](const AccessibleItem* item) {
      if (item && item->linkOwner) return std::wstring(L"Jump");
      if (!item || !IsButton(*item)) return std::wstring();
      if (item->role == ROLE_SYSTEM_PUSHBUTTON) return std::wstring(L"Press");
      return std::wstring(item->state & STATE_SYSTEM_CHECKED ? L"Uncheck" : L"Check");
    });
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    if (IAccessible* system = KnowingSystem(child)) return system->accSelect(flags, Self());
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    RECT r = {};
    if (const AccessibleItem* item = Item(child)) {
      r = item->screen;
    } else if (IsSelf(child)) {
      GetClientRect(window, &r);
      MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
      // A mirrored window's client rectangle comes back with its sides swapped.
      if (r.left > r.right) std::swap(r.left, r.right);
    } else {
      return E_INVALIDARG;
    }
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    long count = static_cast<long>(items.size());
    long from = IsSelf(start) ? 0 : (Item(start) ? start.lVal : -1);
    if (from < 0) return E_INVALIDARG;
    long to = 0;
    switch (direction) {
      case NAVDIR_FIRSTCHILD:
        to = from == 0 ? 1 : 0;
        break;
      case NAVDIR_LASTCHILD:
        to = from == 0 ? count : 0;
        break;
      case NAVDIR_NEXT:
        to = from == 0 ? 0 : from + 1;
        break;
      case NAVDIR_PREVIOUS:
        to = from == 0 ? 0 : from - 1;
        break;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (to < 1 || to > count) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = to;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
    if (!hit) return E_POINTER;
    hit->vt = VT_EMPTY;
    POINT point = {x, y};
    // Controls come after the texts and lie above them.
    for (size_t i = items.size(); i-- > 0;) {
      if (PtInRect(&items[i].screen, point)) {
        hit->vt = VT_I4;
        hit->lVal = static_cast<LONG>(i + 1);
        return S_OK;
      }
    }
    VARIANT self = {};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    long left = 0, top = 0, width = 0, height = 0;
    accLocation(&left, &top, &width, &height, self);
    if (x < left || y < top || x >= left + width || y >= top + height) return S_FALSE;
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (IAccessible* system = KnowingSystem(child)) return system->accDoDefaultAction(Self());
    const AccessibleItem* item = Item(child);
    if (!item && !IsSelf(child)) return E_INVALIDARG;
    if (item && item->linkOwner)
      return PostMessageW(item->linkOwner, CLiteText::kOpenLinkMessage, static_cast<WPARAM>(item->link), 0) ? S_OK
                                                                                                            : E_FAIL;
    if (!item || !IsButton(*item)) return DISP_E_MEMBERNOTFOUND;
    // An unavailable button does nothing, whoever asks: the start button waits for the user's agreement.
    if (!IsWindowEnabled(item->control)) return E_FAIL;
    // Posted, as the system's objects do: the click may start long work, and the caller must not wait.
    return PostMessageW(item->control, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
  // The index of a child id's item; false for the object itself and ids that name no item.
  bool Index(const VARIANT& child, size_t& index) const {
    if (child.vt != VT_I4 || child.lVal < 1 || static_cast<size_t>(child.lVal) > items.size()) return false;
    index = static_cast<size_t>(child.lVal) - 1;
    return true;
  }
  const AccessibleItem* Item(const VARIANT& child) const {
    size_t i = 0;
    return Index(child, i) ? &items[i] : nullptr;
  }
  // The system's object for a control's item, if one could be made.
  IAccessible* SystemObject(const VARIANT& child) const {
    size_t i = 0;
    return Index(child, i) ? systems[i].Get() : nullptr;
  }
  // The same, when it knows what kind of control it stands for.
  IAccessible* KnowingSystem(const VARIANT& child) const {
    size_t i = 0;
    return Index(child, i) && systemKnows[i] ? systems[i].Get() : nullptr;
  }
  // A text the system's object gives for a control; false (and nothing in out) when it gives none.
  template <class Get>
  bool SystemText(const VARIANT& child, BSTR* out, Get get) const {
    *out = nullptr;
    IAccessible* system = SystemObject(child);
    if (!system) return false;
    if (get(system, out) == S_OK && *out && **out) return true;
    FreeString(*out);
    *out = nullptr;
    return false;
  }
  template <class Get>
  HRESULT Text(const VARIANT& child, BSTR* out, Get get) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleItem* item = Item(child);
    if (!item && !IsSelf(child)) return E_INVALIDARG;
    std::wstring text = get(item);
    if (text.empty()) return S_FALSE;
    *out = AllocString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Nothing(const VARIANT& child, BSTR* out) const {
    return Text(child, out, [](const AccessibleItem*) { return std::wstring(); });
  }
  template <class Get>
  HRESULT Number(const VARIANT& child, VARIANT* out, Get get) const {
    if (!out) return E_POINTER;
    out->vt = VT_EMPTY;
    const AccessibleItem* item = Item(child);
    if (!item && !IsSelf(child)) return E_INVALIDARG;
    out->vt = VT_I4;
    out->lVal = get(item);
    return S_OK;
  }

  LONG references = 1;
  HWND window;
  std::wstring description;
  std::vector<AccessibleItem> items;
  std::vector<CComOwnerT<IAccessible>> systems;  // per item: the system's object of its control
  std::vector<bool> systemKnows;                 // per item: that object knows the control's kind
};

struct ChildSearch {
  HWND dialog;
  std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ChildSearch*>(data);
  if (GetParent(child) == search->dialog) search->children.push_back(child);
  return TRUE;
}

}  // namespace

WindowContent DescribeWindow(HWND dialog, const std::vector<PaintedLabel>& labels, const CLiteText* text,
                             int page) {
  WindowContent content = {PageWords(page), {}};
  std::vector<AccessibleItem>& items = content.items;
  // The labels were painted unmirrored, from the client area's left edge on the screen.
  WINDOWINFO info = {};
  info.cbSize = sizeof(info);
  GetWindowInfo(dialog, &info);
  for (const PaintedLabel& label : labels) {
    std::wstring name = label.text;
    for (wchar_t& c : name) {
      if (c == L'\n') c = L' ';
    }
    RECT screen = label.rect;
    OffsetRect(&screen, info.rcClient.left, info.rcClient.top);
    items.push_back({name, ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, std::wstring(), screen});
  }

  ChildSearch search = {dialog, {}};
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&search));
  HWND focus = GetFocus();
  for (HWND child : search.children) {
    // The style, not IsWindowVisible: the object describes the page also while the window is hidden.
    if (!(GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    AccessibleItem item = {WindowText(child), ROLE_SYSTEM_CLIENT, 0, std::wstring(), {}, child};
    GetWindowRect(child, &item.screen);
    if (!IsWindowEnabled(child)) item.state |= STATE_SYSTEM_UNAVAILABLE;
    if (style & WS_TABSTOP) item.state |= STATE_SYSTEM_FOCUSABLE;
    if (child == focus) item.state |= STATE_SYSTEM_FOCUSED;
    std::wstring type = ClassOf(child);
    bool isText = text && child == text->GetHwnd();
    if (lstrcmpiW(type.c_str(), WC_BUTTONW) == 0) {
      switch (style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
          item.role = ROLE_SYSTEM_CHECKBUTTON;
          if (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) item.state |= STATE_SYSTEM_CHECKED;
          break;
        case BS_DEFPUSHBUTTON:
          item.role = ROLE_SYSTEM_PUSHBUTTON;
          item.state |= STATE_SYSTEM_DEFAULT;
          break;
        default:
          item.role = ROLE_SYSTEM_PUSHBUTTON;
          break;
      }
    } else if (lstrcmpiW(type.c_str(), PROGRESS_CLASSW) == 0) {
      item.role = ROLE_SYSTEM_PROGRESSBAR;
      item.name = PageProductName(page);
      item.state |= STATE_SYSTEM_READONLY;
      // The bar holds ints, but a hundred times a count of bytes does not fit one (nor a 32-bit LRESULT).
      const int64_t low = static_cast<int>(SendMessageW(child, PBM_GETRANGE, TRUE, 0));
      const int64_t high = static_cast<int>(SendMessageW(child, PBM_GETRANGE, FALSE, 0));
      const int64_t position = static_cast<int>(SendMessageW(child, PBM_GETPOS, 0, 0));
      if (high > low) item.value = std::to_wstring((position - low) * 100 / (high - low)) + L"%";
    } else if (isText) {
      item.role = ROLE_SYSTEM_STATICTEXT;
      item.state = (item.state & ~(STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED)) | STATE_SYSTEM_READONLY;
    }
    items.push_back(item);
    if (!isText) continue;
    // Its links are what the keyboard reaches: each its own item, the focused one focused.
    for (size_t i = 0; i < text->GetLinks().size(); ++i) {
      LONG state = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED;
      if (child == focus && text->GetFocusedLink() == static_cast<int>(i)) state |= STATE_SYSTEM_FOCUSED;
      items.push_back({text->GetLinkText(i), ROLE_SYSTEM_LINK, state, std::wstring(), item.screen, nullptr,
                       text->GetHwnd(), static_cast<int>(i)});
    }
  }
  return content;
}

IAccessible* CreateWindowAccessible(HWND window, WindowContent content) {
  return new (std::nothrow) CWindowAccessible(window, std::move(content));
}

LRESULT AccessibleResult(IAccessible* object, WPARAM wParam) {
  static const auto result = SystemProc<decltype(&::LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
  if (!object || !result) return 0;
  LRESULT answer = result(__uuidof(IAccessible), wParam, object);
  return answer > 0 ? answer : 0;
}

namespace {

// The annotation service, for one call; false when the system has none or the call fails.
template <class Call>
bool Annotate(Call call) {
  CComOwnerT<IAccPropServices> services;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(services.Put())))) {
    return false;
  }
  return SUCCEEDED(call(services.Get()));
}

}  // namespace

void AnnouncePage(HWND dialog) {
  // Where the system has a live-region setting, the description is read out without the focus moving;
  // where it has none, readers still learn of the new words from the change events.
  Annotate([&](IAccPropServices* services) {
    VARIANT polite = {};
    polite.vt = VT_I4;
    polite.lVal = kPoliteLiveSetting;
    return services->SetHwndProp(dialog, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kLiveSettingProperty,
                                 polite);
  });
  NotifyWinEvent(EVENT_OBJECT_REORDER, dialog, OBJID_CLIENT, CHILDID_SELF);
  NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, dialog, OBJID_CLIENT, CHILDID_SELF);
  NotifyWinEvent(kLiveRegionChanged, dialog, OBJID_CLIENT, CHILDID_SELF);
}

bool AnnotateName(HWND control, const std::wstring& name) {
  return Annotate([&](IAccPropServices* services) {
    return services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                    name.c_str());
  });
}
