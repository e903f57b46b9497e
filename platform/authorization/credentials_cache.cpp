#include "platform/authorization/credentials_cache.h"

#include <map>
#include <mutex>
#include <utility>

namespace platform::authorization {
namespace {

using time_point_t = std::chrono::steady_clock::time_point;

struct authentication_t {
  time_point_t at;
  unique_fd_t token_file;
};

struct credentials_cache_t {
  std::mutex lock;
  std::map<session_key_t, authentication_t> authenticated;
  credentials_clock_t clock;

  time_point_t now() const { return clock ? clock() : std::chrono::steady_clock::now(); }

  // Sessions are not told when they end, so expired entries are dropped as new ones come.
  void drop_expired(time_point_t at) {
    std::erase_if(authenticated, [at](const auto& entry) {
      return at - entry.second.at >= kSharedCredentialsTimeout;
    });
  }
};

credentials_cache_t& cache() {
  static credentials_cache_t instance;
  return instance;
}

}  // namespace

void remember_authentication(const session_key_t& session, unique_fd_t token_file) {
  credentials_cache_t& c = cache();
  std::lock_guard guard(c.lock);
  const time_point_t at = c.now();
  c.drop_expired(at);
  c.authenticated[session] = {at, std::move(token_file)};
}

bool has_recent_authentication(const session_key_t& session) {
  credentials_cache_t& c = cache();
  std::lock_guard guard(c.lock);
  const auto entry = c.authenticated.find(session);
  if (entry == c.authenticated.end()) return false;
  const auto age = c.now() - entry->second.at;
  return age >= time_point_t::duration::zero() && age < kSharedCredentialsTimeout;
}

void forget_authentication(const session_key_t& session) {
  credentials_cache_t& c = cache();
  std::lock_guard guard(c.lock);
  c.authenticated.erase(session);
}

void use_credentials_clock(credentials_clock_t clock) {
  credentials_cache_t& c = cache();
  std::lock_guard guard(c.lock);
  c.clock = std::move(clock);
}

}  // namespace platform::authorization
