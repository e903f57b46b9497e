#include "platform/security/file_identity.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <array>
#include <functional>

namespace platform {
namespace {

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

constexpr std::array<long, 6> kKernelKeptFileSystems = {EXT4_SUPER_MAGIC,  XFS_SUPER_MAGIC,
                                                        BTRFS_SUPER_MAGIC, TMPFS_MAGIC,
                                                        F2FS_SUPER_MAGIC,  OVERLAYFS_SUPER_MAGIC};

}  // namespace

bool file_identity_t::operator==(const file_identity_t& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         same_time(modified, other.modified) && same_time(changed, other.changed);
}

std::size_t file_identity_hash_t::operator()(const file_identity_t& identity) const {
  std::size_t hash = std::hash<ino_t>()(identity.inode);
  for (const auto part :
       {static_cast<long long>(identity.device), static_cast<long long>(identity.size),
        static_cast<long long>(identity.changed.tv_nsec),
        static_cast<long long>(identity.modified.tv_nsec)}) {
    hash = hash * 31 + std::hash<long long>()(part);
  }
  return hash;
}

file_identity_t identity_of(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

std::optional<file_identity_t> identity_of(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  return identity_of(status);
}

timespec change_clock_now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

bool is_settled(const file_identity_t& identity, const timespec& now) {
  const timespec& changed = identity.changed;
  return changed.tv_sec + kSettledSeconds < now.tv_sec ||
         (changed.tv_sec + kSettledSeconds == now.tv_sec && changed.tv_nsec < now.tv_nsec);
}

bool keeps_change_times(int fd) {
  struct statfs file_system {};
  if (::fstatfs(fd, &file_system) != 0) return false;
  for (const long magic : kKernelKeptFileSystems) {
    if (file_system.f_type == magic) return true;
  }
  return false;
}

}  // namespace platform
