#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"

// Descriptor-relative helpers for walking trees that someone else may change while we walk them.
namespace platform::directory_entries {

// The names in an open directory without "." and "..", sorted bytewise; nothing when it cannot
// be read (errno tells why). The descriptor stays open and usable.
std::optional<std::vector<std::string>> names(int dir_fd);

// A path split into its parent directory, opened, and its last component.
struct parent_t {
  unique_fd_t fd;
  std::string name;
};

// Opens the parent of path (following links in the leading components, which the caller chose)
// and names the last component. Fails with errno set for "", "/", "." and ".." as the last
// component (EINVAL) and when the parent cannot be opened.
std::optional<parent_t> openParent(const std::string& path);

}  // namespace platform::directory_entries
