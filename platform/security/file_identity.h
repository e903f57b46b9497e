#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <ctime>
#include <optional>

// When a file's contents may be taken as unchanged without reading them again: the rule a
// version-control index uses for "racily clean" entries. The kernel sets a file's change time on
// every write from a clock that only moves forward in coarse steps, so a file whose change time
// was already well in the past when it was read gets a new change time from any later write.
namespace platform {

struct file_identity_t {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const file_identity_t& other) const;
};

struct file_identity_hash_t {
  std::size_t operator()(const file_identity_t& identity) const;
};

file_identity_t identity_of(const struct stat& status);
std::optional<file_identity_t> identity_of(int fd);

// How far in the past a change time must lie before contents read after it may be remembered.
inline constexpr time_t kSettledSeconds = 1;

// The clock the settled rule compares change times with; read it before reading the contents.
timespec change_clock_now();

// Whether the file had last changed before now by the settled margin.
bool is_settled(const file_identity_t& identity, const timespec& now);

// Whether the file lives on a file system whose change times the kernel itself keeps (local
// disk file systems and memory); a network or user-space file system may report anything.
bool keeps_change_times(int fd);

}  // namespace platform
