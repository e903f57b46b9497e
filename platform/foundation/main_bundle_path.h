#pragma once

#include <string>

namespace platform {

// The path of the running program's bundle: for a tool without a bundle, as the service is, the
// directory that holds its executable. Empty when the executable cannot be found.
std::string main_bundle_path();

}  // namespace platform
