#pragma once

#include <string>

namespace platform::authorization {

// The PAM service that checks credentials given to the authority.
inline constexpr const char* kAuthorizationPamService = "authorization";

// The group whose members are administrators.
inline constexpr const char* kAdministratorsGroup = "admin";

enum class credentials_check_t {
  administrator,   // the password is right and the user is an administrator
  not_permitted,   // the password is right, but the user is no administrator or may not log in
  wrong_password,  // unknown user or wrong password
  failed,          // the check itself could not be made
};

credentials_check_t check_administrator_credentials(const std::string& user,
                                                    const std::string& password);

// Whether the user belongs to the group, as primary or supplementary group.
bool is_member_of_group(const std::string& user, const std::string& group);

}  // namespace platform::authorization
