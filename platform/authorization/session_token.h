#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/base/unique_fd.h"

namespace platform::authorization {

// A session is named by a random token; the client registers it by creating a file named by
// the token in lowercase hex in this directory (root-owned, mode 1733, so nobody can list it).
inline constexpr const char* kAuthorizationSessionDirectory = "/var/run/authd";

// The size of an external form: exactly one session token.
inline constexpr std::size_t kAuthorizationExternalFormLength = 32;

using session_token_t = std::array<std::uint8_t, kAuthorizationExternalFormLength>;

std::string session_token_hex(const session_token_t& token);

// Nothing unless the bytes are exactly one token long.
std::optional<session_token_t> session_token_from_bytes(std::span<const std::uint8_t> bytes);

std::string session_file_path(const std::string& directory, const session_token_t& token);

// A live session file: its owner, and the inode it is. While a file is held open its inode
// cannot be reused, so a file made again under the same name is told apart from it.
struct session_file_t {
  uid_t owner = 0;
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const session_file_t&) const = default;
};

// The session file itself, opened without following a link and without reading it (O_PATH).
unique_fd_t open_session_file(const std::string& path);

// What an opened session file is. It must be a regular file with a single name, so nobody can
// borrow another user's file as their session.
std::optional<session_file_t> session_file_of(int fd);

std::optional<session_file_t> session_file(const std::string& path);

}  // namespace platform::authorization
