// One DIR stream per folder and the entry type from the folder itself: a walk costs one
// getdents batch per folder and an open per subfolder, and stat only on file systems that leave
// the type unknown. Names and relative paths live in buffers reused across folders.
#include "platform/foundation/directory_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::directory_walk {
namespace {

struct dir_closer_t {
  void operator()(DIR* dir) const { closedir(dir); }
};
using unique_dir_t = std::unique_ptr<DIR, dir_closer_t>;

struct entry_t {
  std::uint32_t offset;  // into the folder's names, where the name and its zero byte start
  std::uint32_t length;
  unsigned char type;  // d_type
};

// The entries of one folder; one per depth, reused by every folder at that depth.
struct folder_t {
  std::string names;
  std::vector<entry_t> entries;

  std::string_view name(const entry_t& entry) const {
    return {names.data() + entry.offset, entry.length};
  }
  const char* c_name(const entry_t& entry) const { return names.data() + entry.offset; }
};

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// False when the folder could not be read to its end.
bool read_sorted(DIR* dir, folder_t& folder) {
  folder.names.clear();
  folder.entries.clear();
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    if (!is_dot_or_dot_dot(entry->d_name)) {
      const std::string_view name = entry->d_name;
      folder.entries.push_back({static_cast<std::uint32_t>(folder.names.size()),
                                static_cast<std::uint32_t>(name.size()), entry->d_type});
      folder.names.append(name.data(), name.size() + 1);
    }
    errno = 0;
  }
  if (errno != 0) return false;
  std::sort(
      folder.entries.begin(), folder.entries.end(),
      [&folder](const entry_t& a, const entry_t& b) { return folder.name(a) < folder.name(b); });
  return true;
}

// A subfolder to enter: a directory, never a link to one.
unique_dir_t open_subfolder(int parent_fd, const char* name, unsigned char type) {
  if (type == DT_UNKNOWN) {
    struct stat status {};
    if (fstatat(parent_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode))
      return nullptr;
  } else if (type != DT_DIR) {
    return nullptr;
  }
  const int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  unique_dir_t dir(fdopendir(fd));
  if (!dir) close(fd);
  return dir;
}

class walker_t {
 public:
  explicit walker_t(const visitor_t& visit) : visit_(visit) {}

  void walk(DIR* dir, std::size_t depth) {
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    if (!read_sorted(dir, levels_[depth])) return;
    const std::size_t prefix = path_.size();
    for (std::size_t i = 0; i < levels_[depth].entries.size(); ++i) {
      // Entering a subfolder may grow levels_, so the folder is looked up again each time.
      const folder_t& folder = levels_[depth];
      const entry_t entry = folder.entries[i];
      path_.resize(prefix);
      if (prefix != 0) path_.push_back('/');
      path_.append(folder.name(entry));
      visit_(path_);
      const unique_dir_t inner = open_subfolder(dirfd(dir), folder.c_name(entry), entry.type);
      if (inner) walk(inner.get(), depth + 1);
    }
    path_.resize(prefix);
  }

 private:
  const visitor_t& visit_;
  std::string path_;
  std::vector<folder_t> levels_;
};

}  // namespace

void walk(const char* path, const visitor_t& visit) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  const unique_dir_t dir(fdopendir(fd));
  if (!dir) {
    close(fd);
    return;
  }
  walker_t(visit).walk(dir.get(), 0);
}

}  // namespace platform::directory_walk
