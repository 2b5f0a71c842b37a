// A scripted Windows Installer for detection: Wine's msi.dll cannot answer by product code.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "install/Detection.h"

// A scripted Windows Installer: related product codes, each with its installations.
struct Installation {
  DWORD context;                // 1, 2 (per user) or 4 (per machine)
  const wchar_t* version;       // null: "VersionString" unreadable
  const wchar_t* location;      // null: "InstallLocation" unreadable
};
struct Related {
  const wchar_t* code;
  std::vector<Installation> installations;
};

class CScriptedMsi : public IMsiApi {
 public:
  explicit CScriptedMsi(std::vector<Related> related) : related(std::move(related)) {}

  UINT EnumRelatedProducts(const wchar_t* upgradeCode, DWORD index, wchar_t productCode[39]) override {
    if (wcscmp(upgradeCode, kQuilloraUpgradeCode) != 0 || index >= related.size()) return ERROR_NO_MORE_ITEMS;
    wcscpy(productCode, related[index].code);
    return ERROR_SUCCESS;
  }
  UINT EnumProductsEx(const wchar_t* code, DWORD contexts, DWORD index, wchar_t installed[39],
                      DWORD* installedContext) override {
    contextsAsked.push_back(contexts);
    DWORD seen = 0;
    for (const Installation& i : Find(code).installations) {
      if (!(i.context & contexts)) continue;
      if (seen++ == index) {
        wcscpy(installed, code);
        *installedContext = i.context;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_NO_MORE_ITEMS;
  }
  UINT GetProductInfoEx(const wchar_t* code, DWORD context, const wchar_t* property, wchar_t* value,
                        DWORD* length) override {
    for (const Installation& i : Find(code).installations) {
      if (i.context != context) continue;
      const wchar_t* text = wcscmp(property, L"VersionString") == 0 ? i.version
                            : wcscmp(property, L"InstallLocation") == 0 ? i.location : nullptr;
      if (!text) return ERROR_UNKNOWN_PROPERTY;
      DWORD needed = static_cast<DWORD>(wcslen(text));
      if (!value) {
        *length = needed;
        return ERROR_SUCCESS;
      }
      if (*length <= needed) return ERROR_MORE_DATA;
      wcscpy(value, text);
      *length = needed;
      return ERROR_SUCCESS;
    }
    return ERROR_UNKNOWN_PRODUCT;
  }

  std::vector<DWORD> contextsAsked;

 private:
  const Related& Find(const wchar_t* code) {
    for (const Related& r : related) {
      if (wcscmp(r.code, code) == 0) return r;
    }
    static const Related none{L"", {}};
    return none;
  }
  std::vector<Related> related;
};

