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

unique_fd_t open_session_file(const std::string& path) {
  // O_PATH opens nothing it names (a FIFO would block, a device could react); O_NOFOLLOW makes
  // a link yield the link itself, which the type check then refuses.
  return unique_fd_t(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
}

std::optional<session_file_t> session_file_of(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  if (!S_ISREG(status.st_mode) || status.st_nlink != 1) return std::nullopt;
  return session_file_t{status.st_uid, status.st_dev, status.st_ino};
}

std::optional<session_file_t> session_file(const std::string& path) {
  const unique_fd_t fd = open_session_file(path);
  if (!fd) return std::nullopt;
  return session_file_of(fd.get());
}

}  // namespace platform::authorization
