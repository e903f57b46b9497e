#include "platform/foundation/home_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {
namespace {

// One user database entry with the storage its strings point into.
struct passwd_entry_t {
  passwd entry{};
  std::vector<char> storage;
};

template <typename lookup_t>
std::optional<passwd_entry_t> find_entry(lookup_t lookup) {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  passwd_entry_t result;
  result.storage.resize(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd* found = nullptr;
  if (lookup(&result.entry, result.storage.data(), result.storage.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return result;
}

std::optional<passwd_entry_t> entry_for_uid(uid_t uid) {
  return find_entry([uid](passwd* entry, char* buffer, std::size_t size, passwd** found) {
    return ::getpwuid_r(uid, entry, buffer, size, found);
  });
}

std::optional<passwd_entry_t> entry_for_name(const std::string& user_name) {
  return find_entry([&user_name](passwd* entry, char* buffer, std::size_t size, passwd** found) {
    return ::getpwnam_r(user_name.c_str(), entry, buffer, size, found);
  });
}

std::string home_of(const std::optional<passwd_entry_t>& found) {
  return found && found->entry.pw_dir != nullptr ? found->entry.pw_dir : "";
}

}  // namespace

std::string NSHomeDirectory() {
  return home_of(entry_for_uid(::getuid()));
}

std::string NSHomeDirectoryForUser(const std::string& user_name) {
  return home_of(entry_for_name(user_name));
}

std::optional<std::string> user_name_for_uid(uid_t uid) {
  const auto found = entry_for_uid(uid);
  if (!found || found->entry.pw_name == nullptr) return std::nullopt;
  return std::string(found->entry.pw_name);
}

}  // namespace platform
