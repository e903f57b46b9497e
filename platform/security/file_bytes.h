#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// The whole contents of a file, read through a descriptor relative to directory_fd (AT_FDCWD for
// a plain path); nothing when it cannot be opened or read.
std::optional<std::string> read_file_bytes(int directory_fd, const char* path);

inline constexpr std::size_t max_bundle_file_size = 1024 * 1024;

// A file of a bundle, which whoever made the bundle may have made anything: opened without
// following a link and without waiting for a writer (a FIFO), and read only when it is a regular
// file of at most limit bytes; nothing otherwise.
std::optional<std::string> read_bundle_file(const std::filesystem::path& path,
                                            std::size_t limit = max_bundle_file_size);

}  // namespace platform
