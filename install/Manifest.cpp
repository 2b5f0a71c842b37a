#include "install/Manifest.h"

#include "app/Shell.h"
#include "app/StringIds.h"
#include "deployment.h"
#include "install/Detection.h"
#include "net/RetryingLoader.h"
#include "xml/XmlDocument.h"

const wchar_t kQuilloraManifestUrl[] = L"https://" CORVANE_UPDATE_HOST L"/public/QLWin5/update.xml";
const wchar_t kPagewingManifestUrl[] =
    L"https://" CORVANE_PARTNER_HOST L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml";
const wchar_t kPagewingChinaManifestUrl[] =
    L"https://" CORVANE_PARTNER_HOST L"/downloads/jp/download/xml/mgr/w-quillora/cn/PagewingInstall.xml";
const wchar_t kRegionCheckUrl[] = L"https://" CORVANE_REGION_HOST L"/location-check/";
const wchar_t kQuilloraPublisher[] = CORVANE_QUILLORA_PUBLISHER;
const wchar_t kPagewingPublisher[] = CORVANE_PAGEWING_PUBLISHER;

namespace {

const wchar_t kPagewingName[] = L"Pagewing Manager Quillora Edition";

const wchar_t* g_pagewingManifestUrl = nullptr;

std::wstring FromAnsi(const CBuffer& bytes) {
  if (bytes.Length() == 0) return std::wstring();
  const char* data = static_cast<const char*>(bytes.GetData());
  int length = MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(bytes.Length()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(bytes.Length()), &text[0], length);
  return text;
}

// An installer size: decimal digits only. Anything else (empty, "12ab", a sign, more than 64 bits) means
// "no size given", so the size check is skipped rather than made against a wrong number.
uint64_t ParseLength(const std::wstring& text) {
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

const CXMLString* AttributeValue(CXMLElement* element, const wchar_t* name) {
  CXMLAttribute* attribute = element->FindAttribute(name);
  return attribute ? &attribute->GetValue() : nullptr;
}

}  // namespace

const wchar_t* GetPagewingManifestUrl() {
  if (g_pagewingManifestUrl) return g_pagewingManifestUrl;
  g_pagewingManifestUrl = kPagewingManifestUrl;
  CBuffer body;
  // Five letters are the answer we look for: a body much longer than that is not it, and the decision may
  // not hold "Get Started" up for long, whatever the server does.
  CRetryingLoader loader(nullptr, kAgent, nullptr, kLargestRegionAnswer);
  loader.SetTimeLimit(kRegionCheckTimeLimitMs);
  // The whole body, exactly: "CHINA" with a line break or in lower case is not the answer we look for.
  if (loader.Load(body, kRegionCheckUrl, kRequestFlags) && FromAnsi(body) == L"CHINA")
    g_pagewingManifestUrl = kPagewingChinaManifestUrl;
  return g_pagewingManifestUrl;
}

void ForgetPagewingManifestUrlForTesting() { g_pagewingManifestUrl = nullptr; }

const ProductRules kPagewingRules = {
    L"setup.exe",
    kPagewingPublisher,
    GetPagewingManifestUrl,
    [] { return FormatResString(kProductDownloadFailed, kPagewingName); },
    false,
    true,
    nullptr,
    DetectPagewing,
};

const ProductRules kQuilloraRules = {
    L"QuilloraSetup.exe",
    kQuilloraPublisher,
    [] { return static_cast<const wchar_t*>(kQuilloraManifestUrl); },
    [] { return LoadResString(kQuilloraDownloadFailed); },
    true,
    false,
    L"/passive /suppressclient",
    DetectQuillora,
};

bool ReadManifestBody(const CBuffer& body, ProductInfo& product, const ProductRules& rules, std::wstring& errorText) {
  // Cut at the cap: whatever the rest says, this is not a manifest.
  if (body.Length() >= kLargestManifest) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }
  CXMLDocument document;
  if (!document.LoadFromBuffer(body.GetData(), body.Length(), 1, nullptr)) {
    errorText = LoadResString(kUnexpectedXml) + L"\r\n" + XMLErrorName(document.GetError());
    return false;
  }
  return ReadManifestDocument(document, product, rules, errorText);
}

bool ReadManifestDocument(CXMLDocument& document, ProductInfo& product, const ProductRules& rules,
                          std::wstring& errorText) {
  CXMLElement* root = document.GetRoot();
  if (!root || !root->NameEquals(L"update")) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }
  CXMLElement* release = root->FindChild(L"release", 0);
  if (!release) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }
  if (const CXMLString* version = AttributeValue(release, L"version")) {
    std::wstring text = *version;
    size_t space = text.find(L' ');
    if (rules.versionHasLabel && space != std::wstring::npos && space != 0) text.resize(space);
    product.manifestVersion = ParseVersion(text);
  }
  CXMLElement* executable = release->FindChild(L"executable", 0);
  if (!executable) {
    errorText = LoadResString(kUnexpectedXml);
    return false;
  }

  bool result = true;
  auto fail = [&](UINT id) {
    result = false;
    errorText = LoadResString(id);
  };
  if (const CXMLString* length = AttributeValue(executable, L"length")) product.length = ParseLength(*length);
  // The partner's manifest must name exactly one source; the main product's prefers a local file.
  auto source = [&](const CXMLString* value, bool fromUrl) {
    if (!value) return;
    if (rules.oneSourceOnly && !product.location.empty()) return fail(kUnexpectedXml);
    product.fromUrl = fromUrl;
    product.location = *value;
    if (!fromUrl) product.localFile = *value;
  };
  source(AttributeValue(executable, L"url"), true);
  source(AttributeValue(executable, L"file"), false);
  if (rules.fixedParams) {
    product.params = rules.fixedParams;
  } else if (const CXMLString* params = AttributeValue(executable, L"params")) {
    product.params = *params;
  }
  if (product.location.empty()) fail(kNoUrlSpecified);
  return result;
}
