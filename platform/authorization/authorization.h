#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/authorization/rights_database.h"
#include "platform/authorization/session_token.h"
#include "platform/base/os_status.h"

// The authorization authority: turns a client's external form back into a reference to its
// session, decides rights by the rules of the authorization database (asking for an
// administrator's authentication through polkit when a rule demands it), and edits that
// database.
namespace platform::authorization {

using AuthorizationFlags = std::uint32_t;
inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 2;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 8;

// The rules the database predefines. A right the database does not know is judged by
// "is-admin"; a rule of any other name grants nothing.
inline constexpr const char* kRuleIsAdmin = "is-admin";
inline constexpr const char* kRuleAuthenticateAdmin = "authenticate-admin";

struct AuthorizationItem {
  std::string name;
  std::vector<std::uint8_t> value;
  AuthorizationFlags flags = 0;
};
using AuthorizationRights = std::vector<AuthorizationItem>;

// A reference to one client's session; empty until made from an external form, and empty
// again once freed or moved from.
class authorization_ref_t {
 public:
  authorization_ref_t() = default;
  authorization_ref_t(const authorization_ref_t&) = delete;
  authorization_ref_t& operator=(const authorization_ref_t&) = delete;
  authorization_ref_t(authorization_ref_t&& other) noexcept;
  authorization_ref_t& operator=(authorization_ref_t&& other) noexcept;
  ~authorization_ref_t() = default;

  explicit operator bool() const { return session_.has_value(); }
  // The session's user: the owner of its token file. Only on a reference that is not empty.
  uid_t user() const { return session_->file.owner; }
  const session_token_t& token() const { return session_->token; }
  // The token file the reference was made from.
  const session_file_t& file() const { return session_->file; }

 private:
  struct session_t {
    session_token_t token;
    session_file_t file;
  };

  friend os_status_t AuthorizationCreateFromExternalForm(std::span<const std::uint8_t>,
                                                         authorization_ref_t*);
  friend os_status_t AuthorizationFree(authorization_ref_t&, AuthorizationFlags);

  std::optional<session_t> session_;
};

// errAuthorizationInvalidRef unless the bytes name a live session.
os_status_t AuthorizationCreateFromExternalForm(std::span<const std::uint8_t> externalForm,
                                                authorization_ref_t* authorization);

// Grants every right of the set or fails with the first refusal. Without
// kAuthorizationFlagExtendRights only credentials the session already holds count; without
// kAuthorizationFlagInteractionAllowed the user is never asked.
os_status_t AuthorizationCopyRights(const authorization_ref_t& authorization,
                                    const AuthorizationRights& rights, AuthorizationFlags flags);

// Empties the reference; kAuthorizationFlagDestroyRights also drops the session's credentials.
os_status_t AuthorizationFree(authorization_ref_t& authorization, AuthorizationFlags flags);

// errAuthorizationDenied when the database has no such right. The definition may be null.
os_status_t AuthorizationRightGet(const std::string& rightName,
                                  right_definition_t* rightDefinition);

// Adding a right the database lacks takes a live reference and one of the predefined rules (a
// process that cannot write the database hands the addition to the authority through its
// session, see right_registration.h). Changing or removing a right takes the right
// "config.modify.<name>" or "config.remove.<name>" from the reference, with interaction.
os_status_t AuthorizationRightSet(const authorization_ref_t& authorization,
                                  const std::string& rightName, const std::string& rightDefinition,
                                  const std::string& descriptionKey);
os_status_t AuthorizationRightRemove(const authorization_ref_t& authorization,
                                     const std::string& rightName);

}  // namespace platform::authorization
