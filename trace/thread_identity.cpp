#include "trace/thread_identity.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace {

// Bumped in every child made by fork; a thread whose cached ids are of an older generation
// reads them again.
std::atomic<unsigned> fork_generation{1};

void after_fork_in_child() {
  fork_generation.fetch_add(1, std::memory_order_relaxed);
}

struct identity_t {
  unsigned generation = 0;
  pid_t process = 0;
  pid_t thread = 0;
};

const identity_t& current_identity() {
  static const bool registered = pthread_atfork(nullptr, nullptr, after_fork_in_child) == 0;
  thread_local identity_t identity;
  const unsigned generation = fork_generation.load(std::memory_order_relaxed);
  if (!registered || identity.generation != generation) {
    identity = {generation, getpid(), gettid()};
  }
  return identity;
}

}  // namespace

pid_t current_process_id() {
  return current_identity().process;
}

pid_t current_thread_id() {
  return current_identity().thread;
}
