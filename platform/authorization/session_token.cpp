#include "platform/authorization/session_token.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/base/unique_fd.h"

namespace platform::authorization {

std::string session_token_hex(const session_token_t& token) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(token.size() * 2);
  for (std::uint8_t byte : token) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0f]);
  }
  return hex;
}

std::optional<session_token_t> session_token_from_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kAuthorizationExternalFormLength) return std::nullopt;
  session_token_t token{};
  std::ranges::copy(bytes, token.begin());
  return token;
}

std::string session_file_path(const std::string& directory, const session_token_t& token) {
  return directory + "/" + session_token_hex(token);
}

std::optional<uid_t> session_file_owner(const std::string& path) {
  // O_PATH opens nothing it names (a FIFO would block, a device could react); O_NOFOLLOW makes
  // a link yield the link itself, which the type check below then refuses.
  unique_fd_t fd(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return std::nullopt;
  if (!S_ISREG(status.st_mode) || status.st_nlink != 1) return std::nullopt;
  return status.st_uid;
}

}  // namespace platform::authorization
