#include "platform/foundation/directory_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace platform::directory_entries {
namespace {

struct dir_closer_t {
  void operator()(DIR* dir) const { closedir(dir); }
};
using unique_dir_t = std::unique_ptr<DIR, dir_closer_t>;

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

}  // namespace

std::optional<std::vector<std::string>> names(int dir_fd) {
  // fdopendir takes the descriptor it is given; hand it a duplicate so the caller keeps theirs.
  unique_fd_t own(fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
  if (!own) return std::nullopt;
  unique_dir_t dir(fdopendir(own.get()));
  if (!dir) return std::nullopt;
  own.release();
  rewinddir(dir.get());

  std::vector<std::string> result;
  errno = 0;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") result.emplace_back(name);
    errno = 0;
  }
  if (errno != 0) return std::nullopt;
  std::sort(result.begin(), result.end());
  return result;
}

std::optional<parent_t> openParent(const std::string& path) {
  const std::string trimmed = withoutTrailingSlashes(path);
  const auto slash = trimmed.rfind('/');
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return std::nullopt;
  }
  std::string parent_path = ".";
  if (slash == 0) {
    parent_path = "/";
  } else if (slash != std::string::npos) {
    parent_path = trimmed.substr(0, slash);
  }
  unique_fd_t fd(open(parent_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return parent_t{std::move(fd), std::move(name)};
}

}  // namespace platform::directory_entries
