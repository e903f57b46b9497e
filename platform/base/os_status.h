#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The platform's status codes, as the authorization interface and its callers use them.
using os_status_t = std::int32_t;

inline constexpr os_status_t errSecParam = -50;
inline constexpr os_status_t errAuthorizationSuccess = 0;
inline constexpr os_status_t errAuthorizationInvalidRef = -60002;
inline constexpr os_status_t errAuthorizationDenied = -60005;
inline constexpr os_status_t errAuthorizationCanceled = -60006;
inline constexpr os_status_t errAuthorizationInteractionNotAllowed = -60007;
inline constexpr os_status_t errAuthorizationInternal = -60008;

// An error of the OSStatus domain without user information.
struct os_status_error_t {
  os_status_t code = 0;

  // The text the platform prints for such an error object.
  std::string description() const {
    return "Error Domain=NSOSStatusErrorDomain Code=" + std::to_string(code) + " \"(null)\"";
  }
};

}  // namespace platform
