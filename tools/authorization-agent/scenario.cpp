#include "tools/authorization-agent/scenario.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/base/unique_fd.h"
#include "platform/base/write_all.h"

namespace agent_scenario {
namespace {

std::optional<std::string> read_all(int fd) {
  std::string text;
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return text;
    text.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

}  // namespace

std::optional<std::string> take_first_line(const std::string& path) {
  // Locked, so that agents run one after another consume one line each.
  platform::unique_fd_t fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd || ::flock(fd.get(), LOCK_EX) != 0) return std::nullopt;
  const std::optional<std::string> text = read_all(fd.get());
  if (!text || text->empty()) return std::nullopt;
  const std::size_t end = text->find('\n');
  const std::string rest = end == std::string::npos ? std::string() : text->substr(end + 1);
  if (::ftruncate(fd.get(), 0) != 0 || ::lseek(fd.get(), 0, SEEK_SET) != 0 ||
      !platform::write_all(fd.get(), rest)) {
    return std::nullopt;
  }
  return text->substr(0, end);
}

}  // namespace agent_scenario
