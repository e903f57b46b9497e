#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::authorization {

// The directory in which a client registers its session: one file per token, named by the
// token in lowercase hex and owned by the session's user.
inline constexpr const char* kAuthorizationSessionDirectory = "/var/run/authd";

// The size of an external form: a random session token.
inline constexpr std::size_t kAuthorizationExternalFormLength = 32;

// Makes a fresh session token and registers it for the calling user. Returns the token, or
// nothing with a description of the failure in *error (when error is not null).
std::optional<std::vector<std::uint8_t>> AuthorizationCreateExternalForm(std::string* error);

}  // namespace platform::authorization
