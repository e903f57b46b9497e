#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

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

// The owner of a live session file. The file must be a regular file with a single name, and is
// opened without following a link, so nobody can borrow another user's file as their session.
std::optional<uid_t> session_file_owner(const std::string& path);

}  // namespace platform::authorization
