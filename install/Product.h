// What the install session knows of each product: the manifest's offer and what is installed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/Handle.h"

struct ProductVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;

  bool IsZero() const { return major == 0 && minor == 0 && build == 0 && revision == 0; }
  bool operator==(const ProductVersion& o) const {
    return major == o.major && minor == o.minor && build == o.build && revision == o.revision;
  }
};

// Part by part, the first that differs decides; equal versions count as >=.
bool operator>=(const ProductVersion& installed, const ProductVersion& offered);

// "5.8.1.27" -> 5.8.1.27. Each dot-separated part is read like wcstoul (leading blanks and a sign accepted,
// stops at the first non-digit, no digits give 0, values past 32 bits give 4294967295); missing parts are 0.
// A version has four parts: a fifth and later parts are ignored, so "1.2.3.4.5" is 1.2.3.4 rather than
// an error (manifests are not ours, and rejecting them would block the install for a cosmetic detail).
ProductVersion ParseVersion(const std::wstring& text);

struct ProductInfo {
  explicit ProductInfo(const wchar_t* installerFileName, const wchar_t* expectedPublisher = L"")
      : fileName(installerFileName), publisher(expectedPublisher) {}

  // Back to the state before its manifest was read; keeps only the installer's file name and publisher.
  void Reset() { *this = ProductInfo(fileName.c_str(), publisher.c_str()); }

  std::wstring failureText;       // shown when its manifest or installer cannot be fetched
  bool manifestRead = false;      // the manifest was fetched and accepted; not fetched again
  bool elevated = false;          // run the installer with "runas"; before Vista: the user is no administrator
  bool needed = true;             // must be installed
  bool fromUrl = true;            // location is a URL to download; false: a file on this machine
  uint64_t length = 0;            // expected installer size in bytes; 0: not given, not checked
  std::wstring location;          // installer URL or path, from the manifest
  std::wstring params;            // installer command line
  std::wstring fileName;          // the downloaded installer's name in the private download folder
  std::wstring publisher;         // subject name of the certificate that must have signed it; empty: any trusted
  ProductVersion manifestVersion;
  ProductVersion installedVersion;
  std::wstring installLocation;   // installation folder reported by Windows Installer (main product)
  std::wstring localFile;         // installer on disk: the manifest's file, or the verified download
  // The verified installer, open for reading with read-only sharing from its verification until its
  // process has ended, so nobody can change, rename or delete what was verified before or while it runs.
  std::shared_ptr<CFileHandle> installerHold;
};
