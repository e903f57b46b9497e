#pragma once

#include <plist/plist.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/unique_fd.h"

namespace platform {

std::filesystem::path info_plist_path(const std::filesystem::path& bundle);
std::filesystem::path signature_path(const std::filesystem::path& bundle);
std::filesystem::path executable_directory(const std::filesystem::path& bundle);

// The CFBundleExecutable of an information dictionary, when it names a plain file name.
std::optional<std::string> main_executable_name(plist_t info);

// The file that the bundle's Info.plist names as its main executable, opened for reading;
// invalid when there is none.
unique_fd_t open_main_executable(const std::filesystem::path& bundle);

// The bundle whose main executable this path is: exactly
// <bundle>.app/Contents/MacOS/<CFBundleExecutable of <bundle>.app/Contents/Info.plist>.
// Nothing for any other path.
std::optional<std::filesystem::path> bundle_of_main_executable(
    const std::filesystem::path& executable);

}  // namespace platform
