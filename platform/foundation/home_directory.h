#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// Home directories and user names from the user database.
namespace platform {

// The calling user's home directory; empty when the user database has none.
std::string NSHomeDirectory();

// The named user's home directory; empty when there is no such user.
std::string NSHomeDirectoryForUser(const std::string& user_name);

// The name of the user with that id; nothing when there is none.
std::optional<std::string> user_name_for_uid(uid_t uid);

}  // namespace platform
