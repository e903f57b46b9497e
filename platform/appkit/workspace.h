#pragma once

#include <string>

namespace platform::workspace {

// Starts the bundle's main executable (Contents/MacOS/<CFBundleExecutable>) detached in a new
// session and returns at once; true when the process was started.
bool launchApplication(const std::string& bundle_path);

}  // namespace platform::workspace
