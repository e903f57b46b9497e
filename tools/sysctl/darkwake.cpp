#include "tools/sysctl/darkwake.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <charconv>

#include "platform/base/unique_fd.h"

namespace standin {
namespace {

platform::unique_fd_t open_locked() {
  platform::unique_fd_t fd(::open(darkwake_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (fd && ::flock(fd.get(), LOCK_EX) != 0) fd.reset();
  return fd;
}

std::optional<std::int32_t> read_value(int fd) {
  std::array<char, 32> buffer{};
  const auto length = ::pread(fd, buffer.data(), buffer.size(), 0);
  if (length < 0) return std::nullopt;
  std::string_view text(buffer.data(), static_cast<std::size_t>(length));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.remove_suffix(1);
  if (text.empty()) return 0;
  return parse_int32(text);
}

}  // namespace

sysctl_request_t parse_sysctl_request(std::string_view argument) {
  const auto equals = argument.find('=');
  if (equals == std::string_view::npos) return {std::string(argument), std::nullopt};
  return {std::string(argument.substr(0, equals)), std::string(argument.substr(equals + 1))};
}

std::optional<std::int32_t> parse_int32(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::int32_t> read_darkwake() {
  const auto fd = open_locked();
  if (!fd) return std::nullopt;
  return read_value(fd.get());
}

std::optional<std::int32_t> exchange_darkwake(std::int32_t value) {
  const auto fd = open_locked();
  if (!fd) return std::nullopt;
  const auto old = read_value(fd.get());
  if (!old) return std::nullopt;
  const auto text = std::to_string(value) + "\n";
  if (::ftruncate(fd.get(), 0) != 0 ||
      ::pwrite(fd.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    return std::nullopt;
  }
  return old;
}

}  // namespace standin
