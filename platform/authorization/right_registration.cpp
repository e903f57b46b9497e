#include "platform/authorization/right_registration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <sstream>

#include "platform/base/unique_fd.h"
#include "platform/base/write_all.h"

namespace platform::authorization {
namespace {

// Four rights and their texts fit many times over; a larger file is nobody's registration.
constexpr off_t kMaximumQueue = off_t{16} * 1024;

bool fits_line(const std::string& text) {
  return text.find_first_of("\t\n") == std::string::npos && text.find('\0') == std::string::npos;
}

}  // namespace

bool is_predefined_rule(const std::string& rule) {
  return rule == "is-admin" || rule == "authenticate-admin";
}

os_status_t queue_right_addition(const session_token_t& token, const right_addition_t& addition) {
  const right_definition_t& definition = addition.definition;
  if (addition.name.empty() || !fits_line(addition.name) || !fits_line(definition.rule) ||
      !fits_line(definition.description)) {
    return errSecParam;
  }
  const std::string path = session_file_path(kAuthorizationSessionDirectory, token);
  unique_fd_t fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return errAuthorizationInvalidRef;
  const std::string line =
      addition.name + "\t" + definition.rule + "\t" + definition.description + "\n";
  return platform::write_all(fd.get(), line) ? errAuthorizationSuccess : errAuthorizationInternal;
}

std::vector<right_addition_t> parse_right_additions(const std::string& text) {
  std::vector<right_addition_t> additions;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t rule_start = line.find('\t');
    if (rule_start == std::string::npos || rule_start == 0) continue;
    const std::size_t description_start = line.find('\t', rule_start + 1);
    if (description_start == std::string::npos) continue;
    right_addition_t addition{line.substr(0, rule_start),
                              {line.substr(rule_start + 1, description_start - rule_start - 1),
                               line.substr(description_start + 1)}};
    if (!is_predefined_rule(addition.definition.rule) ||
        !fits_line(addition.definition.description)) {
      continue;
    }
    additions.push_back(std::move(addition));
  }
  return additions;
}

std::vector<right_addition_t> queued_right_additions(const session_token_t& token, uid_t user) {
  const std::string path = session_file_path(kAuthorizationSessionDirectory, token);
  // Non-blocking: the user owns the file and could have put a FIFO in its place.
  unique_fd_t fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return {};
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
      status.st_uid != user || status.st_size > kMaximumQueue) {
    return {};
  }
  std::string text;
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk.data(), static_cast<std::size_t>(n));
    if (text.size() > static_cast<std::size_t>(kMaximumQueue)) return {};
  }
  return parse_right_additions(text);
}

}  // namespace platform::authorization
