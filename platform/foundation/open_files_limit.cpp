#include "platform/foundation/open_files_limit.h"

#include <atomic>

namespace platform::open_files_limit {
namespace {

std::atomic<bool> raised{false};
rlimit started_with{};  // written once, before raised is set

int read_own_limit(rlimit* limit) {
  if (raised) {
    *limit = started_with;
    return 0;
  }
  return ::getrlimit(RLIMIT_NOFILE, limit);
}

std::atomic<reader_t> current_reader{read_own_limit};

}  // namespace

int read(rlimit* limit) {
  return current_reader.load()(limit);
}

bool raise_soft_limit_to_hard() {
  rlimit limit{};
  if (raised || ::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  const rlimit before = limit;
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  started_with = before;
  raised = true;
  return true;
}

void use_reader(reader_t reader) {
  current_reader.store(reader != nullptr ? reader : read_own_limit);
}

}  // namespace platform::open_files_limit
