// Finding out whether a product is installed, in which version and where: the main product through Windows
// Installer by its upgrade code, the partner's package through its App Paths entry and the file's version.
#pragma once

#include <windows.h>

#include "install/Product.h"

// The three msi.dll calls detection needs. Wine's msi.dll cannot answer them for a product code (it does
// not filter MsiEnumProductsExW by code), so tests put a scripted implementation in its place. Results are
// msi.dll's: ERROR_SUCCESS, or an error such as ERROR_NO_MORE_ITEMS that simply means "no more".
class IMsiApi {
 public:
  virtual UINT EnumRelatedProducts(const wchar_t* upgradeCode, DWORD index, wchar_t productCode[39]) = 0;
  virtual UINT EnumProductsEx(const wchar_t* productCode, DWORD context, DWORD index,
                              wchar_t installedProductCode[39], DWORD* installedContext) = 0;
  // value null: *length receives the length in characters without the terminator.
  virtual UINT GetProductInfoEx(const wchar_t* productCode, DWORD context, const wchar_t* property,
                                wchar_t* value, DWORD* length) = 0;

 protected:
  ~IMsiApi() = default;
};

// msi.dll from the system directory, loaded on first use.
IMsiApi& SystemMsiApi();
// What detection uses: the system's, unless a test installed another.
IMsiApi& CurrentMsiApi();

// Puts a test's IMsiApi in place for its lifetime.
class CMsiApiOverride {
 public:
  explicit CMsiApiOverride(IMsiApi& api);
  CMsiApiOverride(const CMsiApiOverride&) = delete;
  CMsiApiOverride& operator=(const CMsiApiOverride&) = delete;
  ~CMsiApiOverride();

 private:
  IMsiApi* previous;
};

constexpr wchar_t kQuilloraUpgradeCode[] = L"{3F6B2A10-7C4D-4E21-9A58-0B1C2D3E4F50}";
constexpr wchar_t kPagewingAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Wingquill.exe";

// Sets needed, installedVersion, installLocation and (for a per-machine installation) elevated from
// Windows Installer. Per-user installations of a related product win over per-machine ones; the first
// related product that yields a version ends the search. A 0.0.0.0 version counts as not installed.
void GetInstalledProductInfo(ProductInfo& product, const wchar_t* upgradeCode);

// The four numbers of a file's fixed version information; false when the file has none or is missing.
bool GetFileVersion(const std::wstring& path, ProductVersion& version);

// The main product: Windows Installer; before Vista "elevated" means the user is no administrator.
void DetectQuillora(ProductInfo& quillora);
// The partner's package: App Paths entry and file version; its installer always needs an administrator.
void DetectPagewing(ProductInfo& pagewing);
