// The two sample products as a release's servers would offer them, published on the local update server.
#pragma once

#include <string>

namespace local_server {

// Serves the signed installer fixtures of `installers` (a folder with QuilloraSetup.exe and setup.exe), the
// two manifests offering them in version 6 with their exact lengths, and a region check that says "US".
// False when an installer cannot be read.
bool PublishSampleProducts(const std::wstring& installers);

}  // namespace local_server
