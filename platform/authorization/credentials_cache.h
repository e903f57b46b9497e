#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/authorization/session_token.h"
#include "platform/base/unique_fd.h"

namespace platform::authorization {

// How long a successful authentication may stand in for a new one, within one authorization.
inline constexpr std::chrono::seconds kSharedCredentialsTimeout{300};

using credentials_clock_t = std::function<std::chrono::steady_clock::time_point()>;

// A session as its credentials are remembered: its token together with its token file (owner
// and inode), so a token file made again, by anyone, does not inherit the credentials.
struct session_key_t {
  std::string token_hex;
  session_file_t file;
  auto operator<=>(const session_key_t&) const = default;
};

// The process-wide memory of when each session last authenticated as an administrator.
// token_file is the session's file, held open while it is remembered so that its inode is not
// given to a new file.
void remember_authentication(const session_key_t& session, unique_fd_t token_file);
bool has_recent_authentication(const session_key_t& session);
void forget_authentication(const session_key_t& session);

// The clock the credentials' age is measured by (the steady clock unless replaced). Tests move
// time forward through it instead of sleeping; an empty clock restores the steady clock.
void use_credentials_clock(credentials_clock_t clock);

}  // namespace platform::authorization
