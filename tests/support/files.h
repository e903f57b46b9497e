#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Files as the tests see them: whole texts, modes and owners.
namespace test_support {

// The whole file; empty when it cannot be read.
std::string read_text(const std::string& path);
// Writes the file anew and gives it exactly that mode, and that owner and group when given;
// false when any of it fails.
bool write_text(const std::string& path, std::string_view text, mode_t mode = 0644,
                std::optional<uid_t> owner = std::nullopt);
struct file_status_t {
  mode_t mode = 0;  // lstat's st_mode: the type and the permissions
  uid_t uid = 0;
  gid_t gid = 0;
};
// What lstat says of the path; nothing when there is nothing.
std::optional<file_status_t> status_of(const std::string& path);
// status_of's mode, 0 when there is nothing.
mode_t mode_of(const std::string& path);

}  // namespace test_support
