// The two sample products as a release's servers would offer them, published on the local update server.
#pragma once

#include <functional>
#include <string>

namespace local_server {

// Serves the signed installer fixtures of `installers` (a folder with QuilloraSetup.exe and setup.exe), the
// two manifests offering them in version 6 with their exact lengths, and a region check that says "US".
// False when an installer cannot be read. dress, when given, turns each installer's URL into the one its
// manifest names (the same file, reached otherwise).
bool PublishSampleProducts(const std::wstring& installers,
                           const std::function<std::wstring(const std::wstring&)>& dress = nullptr);

}  // namespace local_server
