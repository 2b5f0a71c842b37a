// The products' update manifests: where they come from (the hosts, the region check that picks the
// partner's), who must have signed the installers they offer, and how a manifest document reads into a
// product's record. Everything that differs between the two products is in one rules record each.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "install/Product.h"
#include "support/Buffer.h"

class CXMLDocument;

// How the program asks every server: always from the network, never into the cache (a stale manifest
// would install an old version).
constexpr wchar_t kAgent[] = L"Quillora";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// What a download may hold at most: a body cut there fails the check that reads it (the region answer is
// then not "CHINA", a manifest is unexpected XML, an installer has the wrong size). An installer may hold one
// byte more than its manifest's length, or than kLargestInstaller, so a longer one is told by its size.
const DWORD kLargestRegionAnswer = 256;
const DWORD kLargestManifest = 1u << 20;
const DWORD kLargestInstaller = 1u << 30;
// The region check decides which manifest to fetch and holds up the start while it runs.
const DWORD kRegionCheckTimeLimitMs = 15000;

// Where the manifests come from; the host names are the build's deployment settings.
extern const wchar_t kQuilloraManifestUrl[];
extern const wchar_t kPagewingManifestUrl[];
extern const wchar_t kPagewingChinaManifestUrl[];
extern const wchar_t kRegionCheckUrl[];
// Who must have signed each product's installer (empty: any publisher the system trusts); deployment settings.
extern const wchar_t kQuilloraPublisher[];
extern const wchar_t kPagewingPublisher[];

// The partner's manifest address: the China one when the region check answers exactly "CHINA", else the
// default. Decided once per process; a failed check keeps the default for good.
const wchar_t* GetPagewingManifestUrl();
// Lets a test make the region decision again.
void ForgetPagewingManifestUrlForTesting();

// What differs between the two products.
struct ProductRules {
  const wchar_t* fileName;   // the downloaded installer's name
  const wchar_t* publisher;  // who must have signed it; empty: any publisher the system trusts
  const wchar_t* (*manifestUrl)();
  std::wstring (*failureText)();  // shown when its manifest or installer cannot be fetched
  // "5.8.1 beta": the main product's manifests put a label after the number.
  bool versionHasLabel;
  // The partner's manifest must name exactly one source; the main product's prefers a local file.
  bool oneSourceOnly;
  const wchar_t* fixedParams;  // the installer's command line; null: the manifest's "params"
  void (*detect)(ProductInfo& product);
};
extern const ProductRules kPagewingRules;
extern const ProductRules kQuilloraRules;

// Reads a fetched manifest into the record, which the caller has reset. False with the text to show: of
// the first fatal error, or of the last one when the walk could go on after it.
bool ReadManifestBody(const CBuffer& body, ProductInfo& product, const ProductRules& rules, std::wstring& errorText);
// The same for a document already parsed.
bool ReadManifestDocument(CXMLDocument& document, ProductInfo& product, const ProductRules& rules,
                          std::wstring& errorText);
