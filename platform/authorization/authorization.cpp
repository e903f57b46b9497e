#include "platform/authorization/authorization.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/authorization/administrator_authentication.h"
#include "platform/authorization/credentials_cache.h"
#include "platform/authorization/right_registration.h"

namespace platform::authorization {
namespace {

std::string session_path(const authorization_ref_t& authorization) {
  return session_file_path(kAuthorizationSessionDirectory, authorization.token());
}

// A reference holds only while its token file is still the one it was made from, with the
// same user.
bool session_is_live(const authorization_ref_t& authorization) {
  return session_file(session_path(authorization)) == authorization.file();
}

session_key_t session_key(const authorization_ref_t& authorization) {
  return {session_token_hex(authorization.token()), authorization.file()};
}

// Credentials are remembered only with the session's own token file held open; a file that is
// no longer it gets nothing remembered.
void remember_session_authentication(const authorization_ref_t& authorization) {
  unique_fd_t token_file = open_session_file(session_path(authorization));
  if (!token_file || session_file_of(token_file.get()) != authorization.file()) return;
  remember_authentication(session_key(authorization), std::move(token_file));
}

// Asks for an administrator's authentication when the flags allow it, and remembers a success
// for the session.
os_status_t authenticate_for_session(const authorization_ref_t& authorization,
                                     const std::string& right, const std::string& description,
                                     AuthorizationFlags flags) {
  if ((flags & kAuthorizationFlagExtendRights) == 0) return errAuthorizationDenied;
  if ((flags & kAuthorizationFlagInteractionAllowed) == 0) {
    return errAuthorizationInteractionNotAllowed;
  }
  const os_status_t status = authenticate_administrator(right, description);
  if (status == errAuthorizationSuccess) {
    remember_session_authentication(authorization);
  }
  return status;
}

// The rights a session asked to have added, where this process can write the database.
void add_queued_rights(const authorization_ref_t& authorization) {
  if (::geteuid() != 0) return;
  for (const right_addition_t& addition :
       queued_right_additions(authorization.token(), authorization.user())) {
    rights_database_t database(kAuthorizationDatabasePath);
    if (database.get(addition.name, nullptr) == errAuthorizationDenied) {
      database.set(addition.name, addition.definition);
    }
  }
}

os_status_t authorize_right(const authorization_ref_t& authorization, const std::string& right,
                            AuthorizationFlags flags) {
  if (!session_is_live(authorization)) return errAuthorizationInvalidRef;
  if (right.empty()) return errAuthorizationDenied;
  right_definition_t definition{kRuleIsAdmin, ""};
  const os_status_t found = AuthorizationRightGet(right, &definition);
  if (found != errAuthorizationSuccess && found != errAuthorizationDenied) return found;

  if (definition.rule == kRuleIsAdmin) {
    if (has_recent_authentication(session_key(authorization))) {
      return errAuthorizationSuccess;
    }
    return authenticate_for_session(authorization, right, definition.description, flags);
  }
  if (definition.rule == kRuleAuthenticateAdmin) {
    return authenticate_for_session(authorization, right, definition.description, flags);
  }
  return errAuthorizationDenied;
}

// Changing the database is itself a right, judged like any other.
os_status_t authorize_change(const authorization_ref_t& authorization, const std::string& right) {
  if (!authorization) return errAuthorizationInvalidRef;
  return AuthorizationCopyRights(
      authorization, {{right, {}, 0}},
      kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights);
}

}  // namespace

authorization_ref_t::authorization_ref_t(authorization_ref_t&& other) noexcept
    : session_(std::exchange(other.session_, std::nullopt)) {}

authorization_ref_t& authorization_ref_t::operator=(authorization_ref_t&& other) noexcept {
  session_ = std::exchange(other.session_, std::nullopt);
  return *this;
}

os_status_t AuthorizationCreateFromExternalForm(std::span<const std::uint8_t> externalForm,
                                                authorization_ref_t* authorization) {
  if (authorization == nullptr) return errAuthorizationInvalidRef;
  authorization->session_.reset();
  const std::optional<session_token_t> token = session_token_from_bytes(externalForm);
  if (!token) return errAuthorizationInvalidRef;
  const std::optional<session_file_t> file =
      session_file(session_file_path(kAuthorizationSessionDirectory, *token));
  if (!file) return errAuthorizationInvalidRef;
  authorization->session_ = authorization_ref_t::session_t{*token, *file};
  add_queued_rights(*authorization);
  return errAuthorizationSuccess;
}

os_status_t AuthorizationCopyRights(const authorization_ref_t& authorization,
                                    const AuthorizationRights& rights, AuthorizationFlags flags) {
  if (!authorization) return errAuthorizationInvalidRef;
  for (const AuthorizationItem& item : rights) {
    const os_status_t status = authorize_right(authorization, item.name, flags);
    if (status != errAuthorizationSuccess) return status;
  }
  return errAuthorizationSuccess;
}

os_status_t AuthorizationFree(authorization_ref_t& authorization, AuthorizationFlags flags) {
  if (!authorization) return errAuthorizationInvalidRef;
  if ((flags & kAuthorizationFlagDestroyRights) != 0) {
    forget_authentication(session_key(authorization));
  }
  authorization.session_.reset();
  return errAuthorizationSuccess;
}

os_status_t AuthorizationRightGet(const std::string& rightName,
                                  right_definition_t* rightDefinition) {
  // Without a database there is no right; only root could create it, and a look-up need not.
  struct stat status {};
  if (::stat(kAuthorizationDatabasePath, &status) != 0 && errno == ENOENT) {
    return errAuthorizationDenied;
  }
  return rights_database_t(kAuthorizationDatabasePath).get(rightName, rightDefinition);
}

os_status_t AuthorizationRightSet(const authorization_ref_t& authorization,
                                  const std::string& rightName, const std::string& rightDefinition,
                                  const std::string& descriptionKey) {
  if (!authorization) return errAuthorizationInvalidRef;
  const os_status_t existing = AuthorizationRightGet(rightName, nullptr);
  if (existing == errAuthorizationSuccess) {
    const os_status_t allowed = authorize_change(authorization, "config.modify." + rightName);
    if (allowed != errAuthorizationSuccess) return allowed;
  } else if (existing != errAuthorizationDenied) {
    return existing;
  } else if (!is_predefined_rule(rightDefinition)) {
    // Anyone may add a right, so only with a rule that can grant it: a made-up rule would lock
    // everybody out of the right until an administrator removed it.
    return errAuthorizationDenied;
  } else if (::geteuid() != 0) {
    return queue_right_addition(authorization.token(),
                                {rightName, {rightDefinition, descriptionKey}});
  }
  return rights_database_t(kAuthorizationDatabasePath)
      .set(rightName, {rightDefinition, descriptionKey});
}

os_status_t AuthorizationRightRemove(const authorization_ref_t& authorization,
                                     const std::string& rightName) {
  const os_status_t existing = AuthorizationRightGet(rightName, nullptr);
  if (existing != errAuthorizationSuccess) return existing;
  const os_status_t allowed = authorize_change(authorization, "config.remove." + rightName);
  if (allowed != errAuthorizationSuccess) return allowed;
  return rights_database_t(kAuthorizationDatabasePath).remove(rightName);
}

}  // namespace platform::authorization
