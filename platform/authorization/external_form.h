#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::authorization {

// Makes a fresh session token and registers it for the calling user. Returns the token (the
// 32-byte external form), or nothing with a description of the failure in *error (when error
// is not null).
std::optional<std::vector<std::uint8_t>> AuthorizationCreateExternalForm(std::string* error);

// Ends the session an external form names, so the token cannot be used again: what freeing an
// authorization with its rights destroyed does on the platform.
void AuthorizationDestroyExternalForm(const std::vector<std::uint8_t>& form);

}  // namespace platform::authorization
