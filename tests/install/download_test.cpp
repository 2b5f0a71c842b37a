#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "LocalServer.h"
#include "ScriptedWindow.h"
#include "net/WinInet.h"
#include "support/AtExit.h"
#include "support/File.h"
#include "support/TempFiles.h"

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An old system's WinInet, which has no InternetReadFileExA.
int refusedReads = 0;
BOOL WINAPI RefuseReadEx(HINTERNET, INTERNET_BUFFERSA*, DWORD, DWORD_PTR) {
  ++refusedReads;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

enum CancelAt { Never, FirstReport, End };

// Counts what a download reports and can cancel at its first progress report, or once the body is in.
class CProgress : public IUrlLoaderCallback {
 public:
  void OnBegin(CUrlLoader*, const wchar_t*, DWORD) override { ++begins; }
  void OnProgress(CUrlLoader*, DWORD received, DWORD total, bool* cancel) override {
    ++reports;
    wentBack += received < last;
    beyondTotal += total && received > total;
    last = received;
    if (session && cancelAt == FirstReport) {
      session->cancelRequested = true;
      *cancel = true;
    }
  }
  void OnError(CUrlLoader*, DWORD) override {}
  void OnEnd(CUrlLoader*, bool) override {
    ++ends;
    if (session && cancelAt == End) session->cancelRequested = true;
  }
  CInstallSession* session = nullptr;
  CancelAt cancelAt = Never;
  int reports = 0;
  int begins = 0, ends = 0;
  int wentBack = 0;     // reports that counted fewer bytes than the one before
  int beyondTotal = 0;  // reports beyond the total they gave
  DWORD last = 0;
};

class DownloadProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    wchar_t value[MAX_PATH];
    GetTempPathW(MAX_PATH, value);
    temp = std::wstring(value) + L"corvane-download-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    DWORD length = GetEnvironmentVariableW(L"TMP", value, MAX_PATH);
    savedTmp = length ? std::wstring(value, length) : L"";
    SetEnvironmentVariableW(L"TMP", temp.c_str());
  }
  void TearDown() override {
    RunAtExitCalls();  // each test downloads into a private folder of its own
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    for (const wchar_t* name : {L"\\QuilloraSetup.exe", L"\\setup.exe", L"\\local.exe"})
      DeleteFileW((temp + name).c_str());
    RemoveDirectoryW(temp.c_str());
  }
  // Where a download of that name lands: in the run's private folder once there is one.
  std::wstring Downloaded(const wchar_t* name) const {
    CTempFileController* files = CTempFileController::Existing();
    return (files && !files->Folder().empty() ? files->Folder() : temp + L"\\") + name;
  }
  static std::string Fixture(const wchar_t* kind, const wchar_t* name) {
    return ReadBytes(BuildPath(std::wstring(L"installers\\") + kind + L"\\" + name));
  }
  std::wstring temp, savedTmp;
};

TEST_F(DownloadProduct, VerdictsAndWhatStaysOnDisk) {
  const std::string signedSetup = Fixture(L"signed", L"QuilloraSetup.exe");
  ASSERT_FALSE(signedSetup.empty());
  struct Case {
    const char* name;
    std::string served;
    std::string meta;
    int64_t lengthDelta;  // manifest length = served size + delta; INT64_MIN: no length given
    bool expected;
    std::wstring error;
    bool fileLeft;  // QuilloraSetup.exe in the temporary folder afterwards
  } cases[] = {
      {"signed, right size", signedSetup, "", 0, true, L"", true},
      {"no length given", signedSetup, "", INT64_MIN, true, L"", true},
      {"one byte short of the length", signedSetup, "", 1, false, English(31060), false},
      {"one byte more than the length", signedSetup, "", -1, false, English(31060), false},
      {"unsigned", Fixture(L"unsigned", L"QuilloraSetup.exe"), "", 0, false, English(31051), false},
      {"tampered", Fixture(L"tampered", L"QuilloraSetup.exe"), "", 0, false, English(31056), false},
      // The test build expects the test publisher: a trusted signature of another one is refused.
      {"another publisher", Fixture(L"other", L"QuilloraSetup.exe"), "", 0, false, English(31056), false},
      // The expected publisher's name under a root that has only our test root's name: no store trusts it.
      {"a look-alike root", Fixture(L"lookalike", L"QuilloraSetup.exe"), "", 0, false, English(31056), false},
      {"404", "<html>gone</html>", R"({"status": 404})", INT64_MIN, false, English(31042), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(Downloaded(L"QuilloraSetup.exe").c_str());
    local_server::Put(L"/installers/QuilloraSetup.exe", c.served, c.meta);
    CScriptedWindow window;
    CInstallSession session(window);
    ProductInfo& product = session.quillora;
    product.failureText = English(31042);
    product.location = local_server::Url(true, L"/installers/QuilloraSetup.exe");
    product.length = c.lengthDelta == INT64_MIN ? 0 : c.served.size() + c.lengthDelta;
    std::wstring path, error;
    CProgress progress;
    EXPECT_EQ(c.expected, session.DownloadProduct(product, path, error, &progress));
    EXPECT_EQ(c.error, error);
    EXPECT_EQ(c.fileLeft, FileExists(Downloaded(L"QuilloraSetup.exe").c_str(), true));
    if (c.expected) {
      EXPECT_EQ(Downloaded(L"QuilloraSetup.exe"), path);
      EXPECT_EQ(c.served, ReadBytes(path));
      EXPECT_GT(progress.reports, 1);
    }
  }
}

// A line that breaks, a busy server, a file replaced between two tries: the tries, what they asked for, and
// that what is verified is always one whole file.
TEST_F(DownloadProduct, TriesAgainAndResumesOnlyTheSameFile) {
  const std::string first = Fixture(L"signed", L"QuilloraSetup.exe");
  const std::string replacement = Fixture(L"signed", L"setup.exe");
  ASSERT_NE(first, replacement);
  const std::string kRange = "\"Range\": \"bytes=";
  const std::string kBreaks = R"("mode": "drop", "drop_after": 30000, "times": 1, "validator": "etag")";
  const std::string kSize = std::to_string(first.size());
  struct Case {
    const char* name;
    std::string meta;
    const char* replaced;  // the script of another file the server has by the second try; null: none
    size_t requests;
    size_t resumed;      // requests that asked for the rest only
    bool expected;
    int wentBack;        // the bar goes back once when a try starts again from nothing, else never
    bool cancelBetween = false;  // the user cancels once the first answer is in
    bool oldReads = false;       // the platform refuses InternetReadFileExA, as before IE7
    double waited = 0;           // seconds at least between the first two requests
  } cases[] = {
      {"breaks once, strong ETag", "{" + kBreaks + "}", nullptr, 2, 1, true, 0},
      {"breaks once, Last-Modified",
       R"({"mode": "drop", "drop_after": 30000, "times": 1, "validator": "last-modified"})", nullptr, 2, 1, true, 0},
      {"breaks once, nothing to vouch for the rest", R"({"mode": "drop", "drop_after": 30000, "times": 1})", nullptr,
       2, 0, true, 1},
      {"reset once", R"({"mode": "drop", "drop_after": 30000, "reset": true, "times": 1, "validator": "etag"})",
       nullptr, 2, 1, true, 0},
      {"busy once", R"({"status": 503, "times": 1, "headers": {"Retry-After": "0"}})", nullptr, 2, 0, true, 0},
      // A date is no number of seconds: the usual wait, not none.
      {"busy once, until a date", R"({"status": 503, "times": 1, "headers": {"Retry-After": "Fri, 31 Dec 1999 23:59:59 GMT"}})",
       nullptr, 2, 0, true, 0, false, false, 0.9},
      {"replaced between the tries", "{" + kBreaks + "}", R"({"validator": "etag"})", 2, 1, true, 1},
      // A cache that ignores If-Range hands out the new file's rest: it is not spliced on.
      {"replaced, If-Range ignored", "{" + kBreaks + "}", R"({"validator": "etag", "times": 0, "ranged": {"ignore_if_range": true}})",
       3, 1, true, 1},
      // A resumed answer is the rest of the file or nothing: its length must be its range's, its range's total
      // tells a break from the end, and a part of the file is no answer to a request for all of it.
      {"resumed, shorter than its range",
       "{" + kBreaks + R"(, "ranged": {"mode": "drop", "drop_after": 1000, "headers": {"Content-Length": "1000"}}})",
       nullptr, 3, 1, true, 1},
      {"resumed without a length, breaks", "{" + kBreaks + R"(, "ranged": {"mode": "nolength", "drop_after": 10000}})",
       nullptr, 3, 2, true, 0},
      {"a part unasked", R"({"status": 206, "mode": "drop", "drop_after": 10000, "times": 1, "headers": {)"
                         R"("Content-Range": "bytes 0-9999/)" + kSize + R"(", "Content-Length": "10000"}})",
       nullptr, 2, 0, true, 0},
      {"an old system's reads", "", nullptr, 1, 0, true, 0, false, true},
      // Every try is answered from the first byte (200, cut again): the bar starts again each time.
      {"always breaks", R"({"mode": "drop", "drop_after": 30000, "validator": "etag"})", nullptr, 4, 3, false, 3},
      {"gone", R"({"status": 404})", nullptr, 1, 0, false, 0},
      {"cancelled while waiting to try again", R"({"status": 503})", nullptr, 1, 0, false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(Downloaded(L"QuilloraSetup.exe").c_str());
    local_server::Put(L"/installers/QuilloraSetup.exe", first, c.meta);
    size_t before = local_server::Requests().size();
    CScriptedWindow window;
    bool replaced = false;
    CInstallSession* sessionPointer = nullptr;
    window.onPump = [&] {
      // Between the tries: the first answer has been logged and the second not yet.
      if (c.cancelBetween && local_server::Requests().size() > before) sessionPointer->cancelRequested = true;
      if (c.replaced && !replaced && local_server::Requests().size() == before + 1) {
        replaced = true;
        local_server::Put(L"/installers/QuilloraSetup.exe", replacement, c.replaced);
      }
    };
    refusedReads = 0;
    ScopedReadFileEx reads(c.oldReads ? &RefuseReadEx : nullptr);
    CInstallSession session(window);
    sessionPointer = &session;
    ProductInfo& product = session.quillora;
    product.failureText = English(31042);
    product.location = local_server::Url(true, L"/installers/QuilloraSetup.exe");
    product.length = c.replaced ? 0 : first.size();
    DWORD start = GetTickCount();
    std::wstring path, error;
    CProgress progress;
    EXPECT_EQ(c.expected, session.DownloadProduct(product, path, error, &progress));
    std::vector<std::string> requests = local_server::Requests();
    EXPECT_EQ(c.requests, requests.size() - before);
    size_t resumed = 0;
    for (size_t i = before; i < requests.size(); ++i) resumed += requests[i].find(kRange) != std::string::npos;
    EXPECT_EQ(c.resumed, resumed);
    if (c.waited) {
      auto time = [](const std::string& request) { return atof(request.c_str() + request.find("\"time\": ") + 8); };
      EXPECT_GE(time(requests[before + 1]) - time(requests[before]), c.waited);
    }
    EXPECT_EQ(c.expected, FileExists(Downloaded(L"QuilloraSetup.exe").c_str(), true));
    // To the bar all the tries are one download.
    EXPECT_EQ(1, progress.begins);
    EXPECT_EQ(1, progress.ends);
    EXPECT_EQ(c.wentBack, progress.wentBack);
    EXPECT_EQ(0, progress.beyondTotal);
    EXPECT_EQ(c.oldReads, refusedReads > 0);
    if (c.expected) {
      EXPECT_EQ(c.replaced ? replacement : first, ReadBytes(path));
    } else if (c.cancelBetween) {
      EXPECT_EQ(L"", error);  // a cancel is told nothing
      EXPECT_LT(GetTickCount() - start, 1000u);
    } else {
      EXPECT_EQ(English(31042), error);
    }
  }
}

// Somebody else's file of the installer's name in the temporary folder is neither replaced nor deleted.
TEST_F(DownloadProduct, AFileOfTheSameNameElsewhereIsNotTouched) {
  { std::ofstream((temp + L"\\setup.exe").c_str(), std::ios::binary) << "somebody else's"; }
  const std::string signedSetup = Fixture(L"signed", L"setup.exe");
  local_server::Put(L"/installers/setup.exe", signedSetup);
  CScriptedWindow window;
  CInstallSession session(window);
  session.pagewing.location = local_server::Url(false, L"/installers/setup.exe");
  std::wstring path, error;
  ASSERT_TRUE(session.DownloadProduct(session.pagewing, path, error, nullptr));
  EXPECT_EQ(signedSetup, ReadBytes(path));
  session.pagewing.installerHold.reset();
  RunAtExitCalls();
  EXPECT_FALSE(FileExists(path.c_str(), false));
  EXPECT_EQ("somebody else's", ReadBytes(temp + L"\\setup.exe"));
}

// A name taken in the private folder before the download (a file, or a link to somebody's file) is
// neither written through nor deleted: the download fails.
TEST_F(DownloadProduct, ANamePlantedInThePrivateFolderIsNotWrittenThrough) {
  const std::wstring victim = temp + L"\\local.exe";
  struct Case {
    const char* name;
    bool link;
  } cases[] = {{"a file", false}, {"a link to another file", true}};
  local_server::Put(L"/installers/setup.exe", Fixture(L"signed", L"setup.exe"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    { std::ofstream(victim.c_str(), std::ios::binary) << "the user's"; }
    const std::wstring planted = CTempFileController::Instance()->MakeTempPath(L"setup.exe");
    if (c.link) {
      if (!CreateSymbolicLinkW(planted.c_str(), victim.c_str(), 0)) {
        std::cout << "no symbolic links here (" << GetLastError() << ")\n";
        continue;
      }
    } else {
      { std::ofstream(planted.c_str(), std::ios::binary) << "the user's"; }
    }
    CScriptedWindow window;
    CInstallSession session(window);
    session.pagewing.failureText = L"setup failed";
    session.pagewing.location = local_server::Url(false, L"/installers/setup.exe");
    std::wstring path, error;
    bool downloaded = session.DownloadProduct(session.pagewing, path, error, nullptr);
    session.pagewing.installerHold.reset();
    // What a link leads to is never written; a plain file there is not replaced (Windows refuses a link's
    // name as well, Wine may put the new file in the link's place).
    EXPECT_TRUE(ReadBytes(victim) == "the user's");
    if (!c.link) {
      EXPECT_FALSE(downloaded);
      EXPECT_EQ(L"setup failed", error);
      EXPECT_TRUE(ReadBytes(planted) == "the user's");
    }
    DeleteFileW(planted.c_str());
  }
}

TEST_F(DownloadProduct, FailuresWithoutAFile) {
  struct Case {
    const char* name;
    std::wstring location;
    const wchar_t* failureText;
    CancelAt cancel;
    std::wstring error;
    const wchar_t* fileName = L"QuilloraSetup.exe";
  } cases[] = {
      {"no location", L"", L"Quillora download failed", Never, English(31040)},
      {"no failure text", L"http://127.0.0.1:1/nothing", L"", Never, English(31045)},
      {"cancelled by the user", L"/installers/big.bin", L"Quillora download failed", FirstReport, L""},
      {"cancelled after the last read", L"/installers/big.bin", L"Quillora download failed", End, L""},
      // A device takes the bytes and gives none back, as when the file is replaced between its writing and
      // its check: what would be verified and run is not what was received.
      {"what is read back is not what came", L"/installers/big.bin", L"Quillora download failed", Never,
       L"Quillora download failed", L"NUL"},
      // No length to compare: a body past the cap is a failed download, not a file to verify.
      {"over the cap, no length", L"/_bytes/1073741825?chunked=1", L"Quillora download failed", Never,
       L"Quillora download failed"},
  };
  local_server::Put(L"/installers/big.bin", std::string(1 << 20, 'x'));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedWindow window;
    CInstallSession session(window);
    session.quillora.failureText = c.failureText;
    session.quillora.fileName = c.fileName;
    session.quillora.location =
        c.location.size() && c.location[0] == L'/' ? local_server::Url(false, c.location) : c.location;
    CProgress progress;
    progress.session = &session;
    progress.cancelAt = c.cancel;
    std::wstring path, error;
    EXPECT_FALSE(session.DownloadProduct(session.quillora, path, error, &progress));
    EXPECT_EQ(c.error, error);
    EXPECT_FALSE(FileExists(Downloaded(L"QuilloraSetup.exe").c_str(), false));
    EXPECT_FALSE(session.quillora.installerHold);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Downloaded(L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do EXPECT_EQ(L'.', found.cFileName[0]) << "left in the download folder";  // only . and ..
      while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
}

// A file named by the manifest is verified where it is; one that fails is reported and left alone: it is
// not ours to delete.
TEST_F(DownloadProduct, ALocalFileIsVerifiedButNeverDeleted) {
  struct Case {
    const wchar_t* kind;
    bool expected;
    std::wstring error;
  } cases[] = {
      {L"signed", true, L""},
      {L"unsigned", false, English(31051)},
      {L"tampered", false, English(31056)},
  };
  for (const Case& c : cases) {
    std::wstring local = temp + L"\\local.exe";
    ASSERT_TRUE(CopyFileW(BuildPath(std::wstring(L"installers\\") + c.kind + L"\\setup.exe").c_str(), local.c_str(),
                          FALSE));
    CScriptedWindow window;
    CInstallSession session(window);
    session.pagewing.fromUrl = false;
    session.pagewing.location = local;
    std::wstring path, error;
    EXPECT_EQ(c.expected, session.DownloadProduct(session.pagewing, path, error, nullptr));
    EXPECT_EQ(c.error, error);
    EXPECT_EQ(local, path);
    EXPECT_TRUE(FileExists(local.c_str(), true));
  }
}

// The same download, verified again on a new start: a file this program wrote that now fails is removed.
TEST_F(DownloadProduct, AnEarlierDownloadIsVerifiedAgain) {
  std::wstring earlier = temp + L"\\setup.exe";
  ASSERT_TRUE(CopyFileW(BuildPath(L"installers\\tampered\\setup.exe").c_str(), earlier.c_str(), FALSE));
  CScriptedWindow window;
  CInstallSession session(window);
  session.pagewing.localFile = earlier;  // fromUrl stays true: it came from the network
  size_t before = local_server::Requests().size();
  std::wstring path, error;
  EXPECT_FALSE(session.DownloadProduct(session.pagewing, path, error, nullptr));
  EXPECT_EQ(English(31056), error);
  EXPECT_FALSE(FileExists(earlier.c_str(), false));
  EXPECT_EQ(before, local_server::Requests().size());  // nothing fetched
}

TEST_F(DownloadProduct, AFolderThatCannotTakeTheFileFailsWithTheProductsText) {
  SetEnvironmentVariableW(L"TMP", (temp + L"\\no\\such\\folder").c_str());
  local_server::Put(L"/installers/QuilloraSetup.exe", Fixture(L"signed", L"QuilloraSetup.exe"));
  CScriptedWindow window;
  CInstallSession session(window);
  session.quillora.failureText = English(31042);
  session.quillora.location = local_server::Url(false, L"/installers/QuilloraSetup.exe");
  std::wstring path, error;
  EXPECT_FALSE(session.DownloadProduct(session.quillora, path, error, nullptr));
  EXPECT_EQ(English(31042), error);
}

// With an expected publisher only its signature passes; without one, any the system trusts.
TEST(SignatureVerdicts, TheExpectedPublisherMustHaveSigned) {
  const std::wstring ours = L"Corvane Test Code Signing";
  struct Case {
    const wchar_t* kind;
    std::wstring publisher;
    SignatureVerdict verdict;
  } cases[] = {
      {L"signed", L"", SignatureVerdict::Valid},         {L"other", L"", SignatureVerdict::Valid},
      {L"signed", ours, SignatureVerdict::Valid},        {L"other", ours, SignatureVerdict::Error},
      {L"signed", L"Corvane Test", SignatureVerdict::Error},  // a prefix is another name
      {L"unsigned", ours, SignatureVerdict::NoSignature},
      {L"lookalike", L"", SignatureVerdict::Error},  // the chain is checked whatever the pin says
  };
  for (const Case& c : cases) {
    std::wstring path = BuildPath(std::wstring(L"installers\\") + c.kind + L"\\setup.exe");
    EXPECT_EQ(c.verdict, VerifyFileSignature(path, nullptr, c.publisher)) << c.kind << " " << c.publisher.size();
  }
}

// A certificate (unsigned: only its names are read) whose subject holds these attributes, each a Unicode
// string that may hold a NUL.
PCCERT_CONTEXT CertificateNamed(std::vector<std::pair<const char*, std::wstring>> attributes) {
  std::vector<CERT_RDN_ATTR> attrs;
  for (auto& a : attributes) {
    attrs.push_back({const_cast<char*>(a.first), CERT_RDN_UNICODE_STRING,
                     {static_cast<DWORD>(a.second.size() * sizeof(wchar_t)),
                      reinterpret_cast<BYTE*>(&a.second[0])}});
  }
  std::vector<CERT_RDN> rdns;
  for (auto& attr : attrs) rdns.push_back({1, &attr});
  CERT_NAME_INFO name = {static_cast<DWORD>(rdns.size()), rdns.data()};
  BYTE nameBytes[1024], serial[1] = {1}, key[1] = {0}, encoded[4096], signature[1] = {0};
  DWORD nameSize = sizeof(nameBytes);
  if (!CryptEncodeObject(X509_ASN_ENCODING, X509_UNICODE_NAME, &name, nameBytes, &nameSize)) return nullptr;
  CERT_INFO info = {};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {1, serial};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Issuer = info.Subject = {nameSize, nameBytes};
  SYSTEMTIME now;
  GetSystemTime(&now);
  SystemTimeToFileTime(&now, &info.NotBefore);
  info.NotAfter = info.NotBefore;
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(szOID_RSA_RSA);
  info.SubjectPublicKeyInfo.PublicKey = {1, key, 0};
  BYTE toBeSigned[2048];
  DWORD toBeSignedSize = sizeof(toBeSigned);
  if (!CryptEncodeObject(X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, toBeSigned, &toBeSignedSize))
    return nullptr;
  CERT_SIGNED_CONTENT_INFO content = {};
  content.ToBeSigned = {toBeSignedSize, toBeSigned};
  content.SignatureAlgorithm = info.SignatureAlgorithm;
  content.Signature = {1, signature, 0};
  DWORD encodedSize = sizeof(encoded);
  if (!CryptEncodeObject(X509_ASN_ENCODING, X509_CERT, &content, encoded, &encodedSize)) return nullptr;
  return CertCreateCertificateContext(X509_ASN_ENCODING, encoded, encodedSize);
}

// Only the signer's common name, all of it, is the publisher: no other attribute stands in for it.
TEST(SignatureVerdicts, ThePublisherIsTheWholeCommonName) {
  const std::wstring quillora = L"Quillora";
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, std::wstring>> subject;
    bool expected;
  } cases[] = {
      {"the common name", {{szOID_ORGANIZATION_NAME, L"Other"}, {szOID_COMMON_NAME, quillora}}, true},
      {"a common name with more after a NUL", {{szOID_COMMON_NAME, quillora + L'\0' + L"anything"}}, false},
      {"no common name, the organisation matches", {{szOID_ORGANIZATION_NAME, quillora}}, false},
      {"no common name, the unit matches", {{szOID_ORGANIZATIONAL_UNIT_NAME, quillora}}, false},
      {"a longer common name", {{szOID_COMMON_NAME, quillora + L" Ltd"}}, false},
      {"a common name longer than any buffer", {{szOID_COMMON_NAME, quillora + std::wstring(300, L'x')}}, false},
  };
  for (const Case& c : cases) {
    PCCERT_CONTEXT certificate = CertificateNamed(c.subject);
    ASSERT_NE(nullptr, certificate) << c.name;
    EXPECT_EQ(c.expected, HasCommonName(certificate, quillora)) << c.name;
    CertFreeCertificateContext(certificate);
  }
  // A verification that kept no state names no signer: a configured publisher refuses it.
  EXPECT_EQ(SignatureVerdict::Error, PinnedVerdict(SignatureVerdict::Valid, nullptr, quillora));
  EXPECT_EQ(SignatureVerdict::Valid, PinnedVerdict(SignatureVerdict::Valid, nullptr, L""));
  EXPECT_EQ(SignatureVerdict::NoSignature, PinnedVerdict(SignatureVerdict::NoSignature, nullptr, quillora));
}

TEST(SignatureVerdicts, TrustResultsReadAsVerdicts) {
  struct Case {
    LONG result;
    DWORD lastError;
    SignatureVerdict verdict;
    UINT message;
  } cases[] = {
      {0, 0, SignatureVerdict::Valid, 0},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_NOSIGNATURE), SignatureVerdict::NoSignature, 31051},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN), SignatureVerdict::NoSignature, 31051},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN), SignatureVerdict::NoSignature, 31051},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_BAD_DIGEST), SignatureVerdict::Invalid, 31052},
      {TRUST_E_EXPLICIT_DISTRUST, 0, SignatureVerdict::Disallowed, 31053},
      {TRUST_E_SUBJECT_NOT_TRUSTED, 0, SignatureVerdict::NotTrusted, 31054},
      {CRYPT_E_SECURITY_SETTINGS, 0, SignatureVerdict::Disabled, 31055},
      {TRUST_E_BAD_DIGEST, 0, SignatureVerdict::Error, 31056},
      {CERT_E_EXPIRED, 0, SignatureVerdict::Error, 31056},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.verdict, VerdictFromTrustResult(c.result, c.lastError)) << std::hex << c.result;
    EXPECT_EQ(c.message, VerdictMessageId(c.verdict));
  }
}

}  // namespace
