#include "install/Detection.h"

#include <msi.h>

#include <vector>

#include "app/Shell.h"
#include "support/Registry.h"
#include "support/SystemLibrary.h"

namespace {

// msi.dll from the system directory on first use, kept for the process (the launch button asks again).
class CSystemMsiApi final : public IMsiApi {
 public:
  UINT EnumRelatedProducts(const wchar_t* upgradeCode, DWORD index, wchar_t productCode[39]) override {
    if (!Load()) return ERROR_INSTALL_SERVICE_FAILURE;
    return enumRelated(upgradeCode, 0, index, productCode);
  }
  UINT EnumProductsEx(const wchar_t* productCode, DWORD context, DWORD index, wchar_t installedProductCode[39],
                      DWORD* installedContext) override {
    if (!Load()) return ERROR_INSTALL_SERVICE_FAILURE;
    return enumProducts(productCode, nullptr, context, index, installedProductCode,
                        reinterpret_cast<MSIINSTALLCONTEXT*>(installedContext), nullptr, nullptr);
  }
  UINT GetProductInfoEx(const wchar_t* productCode, DWORD context, const wchar_t* property, wchar_t* value,
                        DWORD* length) override {
    if (!Load()) return ERROR_INSTALL_SERVICE_FAILURE;
    return productInfo(productCode, nullptr, static_cast<MSIINSTALLCONTEXT>(context), property, value, length);
  }

 private:
  using EnumRelatedFn = UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR);
  using EnumProductsFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, DWORD, LPWSTR, MSIINSTALLCONTEXT*, LPWSTR, LPDWORD);
  using ProductInfoFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIINSTALLCONTEXT, LPCWSTR, LPWSTR, LPDWORD);

  bool Load() {
    if (!attempted) {
      attempted = true;
      enumRelated = SystemProc<EnumRelatedFn>(L"msi.dll", "MsiEnumRelatedProductsW");
      enumProducts = SystemProc<EnumProductsFn>(L"msi.dll", "MsiEnumProductsExW");
      productInfo = SystemProc<ProductInfoFn>(L"msi.dll", "MsiGetProductInfoExW");
    }
    return enumRelated && enumProducts && productInfo;
  }

  bool attempted = false;
  EnumRelatedFn enumRelated = nullptr;
  EnumProductsFn enumProducts = nullptr;
  ProductInfoFn productInfo = nullptr;
};

IMsiApi* g_msiApi = nullptr;

constexpr DWORD kPerUserContexts = MSIINSTALLCONTEXT_USERMANAGED | MSIINSTALLCONTEXT_USERUNMANAGED;

// A product property's text; false when it cannot be read.
bool ReadProperty(IMsiApi& msi, const wchar_t* code, DWORD context, const wchar_t* property, std::wstring& out) {
  DWORD length = 0;
  if (msi.GetProductInfoEx(code, context, property, nullptr, &length) != ERROR_SUCCESS) return false;
  std::vector<wchar_t> value(static_cast<size_t>(length) + 1, L'\0');
  DWORD size = length + 1;
  if (msi.GetProductInfoEx(code, context, property, value.data(), &size) != ERROR_SUCCESS) return false;
  out.assign(value.data());
  return true;
}

// The first installation of `code` in `contexts` whose version can be read: fills the record and says so.
bool ReadInstallation(IMsiApi& msi, const wchar_t* code, DWORD contexts, ProductInfo& product) {
  wchar_t installed[39];
  DWORD context = 0;
  for (DWORD index = 0; msi.EnumProductsEx(code, contexts, index, installed, &context) == ERROR_SUCCESS; ++index) {
    std::wstring version;
    if (!ReadProperty(msi, installed, context, L"VersionString", version)) continue;
    product.installedVersion = ParseVersion(version);
    std::wstring location;
    // An unreadable location keeps the one known before (the launch button relies on that).
    if (ReadProperty(msi, installed, context, L"InstallLocation", location)) product.installLocation = location;
    return true;
  }
  return false;
}

}  // namespace

IMsiApi& SystemMsiApi() {
  static CSystemMsiApi api;
  return api;
}

IMsiApi& CurrentMsiApi() { return g_msiApi ? *g_msiApi : SystemMsiApi(); }

CMsiApiOverride::CMsiApiOverride(IMsiApi& api) : previous(g_msiApi) { g_msiApi = &api; }
CMsiApiOverride::~CMsiApiOverride() { g_msiApi = previous; }

void GetInstalledProductInfo(ProductInfo& product, const wchar_t* upgradeCode) {
  IMsiApi& msi = CurrentMsiApi();
  product.needed = true;
  bool found = false;
  wchar_t related[39];
  for (DWORD index = 0; !found && msi.EnumRelatedProducts(upgradeCode, index, related) == ERROR_SUCCESS; ++index) {
    if (ReadInstallation(msi, related, kPerUserContexts, product)) {
      found = true;
    } else if (ReadInstallation(msi, related, MSIINSTALLCONTEXT_MACHINE, product)) {
      // Updating a per-machine installation needs an administrator.
      product.elevated = true;
      found = true;
    }
  }
  if (!found) return;
  if (!product.installedVersion.IsZero() && product.installedVersion >= product.manifestVersion)
    product.needed = false;
}

bool GetFileVersion(const std::wstring& path, ProductVersion& version) {
  // version.dll is no known DLL: it comes from the system directory on first use, never by import.
  static const auto infoSize =
      SystemProc<decltype(&::GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
  static const auto infoRead = SystemProc<decltype(&::GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
  static const auto query = SystemProc<decltype(&::VerQueryValueW)>(L"version.dll", "VerQueryValueW");
  if (!infoSize || !infoRead || !query) return false;
  // The platform's version calls take MAX_PATH paths; a longer one is cut rather than overrun.
  std::wstring file = path.substr(0, MAX_PATH - 1);
  DWORD ignored = 0;
  DWORD size = infoSize(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> info(size);
  if (!infoRead(file.c_str(), 0, size, info.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!query(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  version.major = HIWORD(fixed->dwFileVersionMS);
  version.minor = LOWORD(fixed->dwFileVersionMS);
  version.build = HIWORD(fixed->dwFileVersionLS);
  version.revision = LOWORD(fixed->dwFileVersionLS);
  return true;
}

void DetectQuillora(ProductInfo& quillora) {
  GetInstalledProductInfo(quillora, kQuilloraUpgradeCode);
  if (g_osMajor < 6 && quillora.elevated) quillora.elevated = !IsUserAdmin();
}

void DetectPagewing(ProductInfo& pagewing) {
  std::wstring path = RegGetString(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, nullptr);
  ProductVersion version;
  if (!path.empty() && GetFileVersion(path, version)) {
    pagewing.installedVersion = version;
    if (!version.IsZero() && version >= pagewing.manifestVersion) pagewing.needed = false;
  }
  pagewing.elevated = true;
  if (g_osMajor < 6) pagewing.elevated = !IsUserAdmin();
}
