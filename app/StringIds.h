// The ids of the program's string table (res/lang/*.rc); every language has all of them.
#pragma once

#include <windows.h>

enum StringId : UINT {
  kProgramName = 100,
  kCaption = 31000,  // of every message box
  kAreYouSure = 31031,
  kNoUrlSpecified = 31040,
  kUnexpectedXml = 31041,
  kQuilloraDownloadFailed = 31042,
  kProductDownloadFailed = 31043,  // {0}: the partner product's name
  kUnknownFailure = 31045,
  kNoCommandSpecified = 31046,
  kInstallationFailed = 31050,
  kNoSignature = 31051,
  kSignatureInvalid = 31052,
  kSignatureDisallowed = 31053,
  kSignatureNotTrusted = 31054,
  kSignatureDisabled = 31055,
  kSignatureError = 31056,
  kAdministratorRequired = 31059,
  kSizeNotCorrect = 31060,
  kWelcomeTo = 31061,
  kDescription = 31063,
  kAllSet = 31064,
  kDownloading = 31065,
  kSettingUp = 31066,
  kStepOf = 31067,  // {0}: the step, {1}: the number of steps
  kProductLabel = 31068,
};
