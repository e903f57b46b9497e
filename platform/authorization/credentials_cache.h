#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace platform::authorization {

// How long a successful authentication may stand in for a new one, within one authorization.
inline constexpr std::chrono::seconds kSharedCredentialsTimeout{300};

using credentials_clock_t = std::function<std::chrono::steady_clock::time_point()>;

// The process-wide memory of when each session last authenticated as an administrator. A
// session is its token together with its user, so a token file recreated by someone else does
// not inherit the credentials.
void remember_authentication(const std::string& token_hex, uid_t user);
bool has_recent_authentication(const std::string& token_hex, uid_t user);
void forget_authentication(const std::string& token_hex, uid_t user);

// The clock the credentials' age is measured by (the steady clock unless replaced). Tests move
// time forward through it instead of sleeping; an empty clock restores the steady clock.
void use_credentials_clock(credentials_clock_t clock);

}  // namespace platform::authorization
