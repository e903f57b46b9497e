#pragma once

#include <optional>
#include <string>

namespace platform {

// The whole contents of a file, read through a descriptor relative to directory_fd (AT_FDCWD for
// a plain path); nothing when it cannot be opened or read.
std::optional<std::string> read_file_bytes(int directory_fd, const char* path);

}  // namespace platform
