#include "platform/security/executable_digest.h"

#include "platform/base/lru_cache.h"
#include "platform/security/file_identity.h"

namespace platform {
namespace {

// Distinct client executables one daemon sees are few; a flood of others only evicts.
constexpr std::size_t kRemembered = 64;

using digests_t = lru_cache_t<file_identity_t, sha256_t, file_identity_hash_t>;

digests_t& remembered() {
  static digests_t digests(kRemembered);
  return digests;
}

}  // namespace

std::optional<sha256_t> sha256_of_executable(int fd) {
  const timespec now = change_clock_now();
  const std::optional<file_identity_t> before = identity_of(fd);
  if (!before) return std::nullopt;
  const bool rememberable = is_settled(*before, now) && keeps_change_times(fd);
  if (rememberable) {
    if (const std::optional<sha256_t> known = remembered().find(*before)) return known;
  }
  const std::optional<sha256_t> digest = sha256_of_file(fd);
  // A write while the file was read shows as another identity afterwards.
  if (digest && rememberable && identity_of(fd) == before) remembered().insert(*before, *digest);
  return digest;
}

std::size_t executable_digests_reused() {
  return remembered().found();
}

}  // namespace platform
