#include "platform/foundation/open_files_limit.h"

#include <atomic>

namespace platform::open_files_limit {
namespace {

int read_own_limit(rlimit* limit) {
  return ::getrlimit(RLIMIT_NOFILE, limit);
}

std::atomic<reader_t> current_reader{read_own_limit};

}  // namespace

int read(rlimit* limit) {
  return current_reader.load()(limit);
}

void use_reader(reader_t reader) {
  current_reader.store(reader != nullptr ? reader : read_own_limit);
}

}  // namespace platform::open_files_limit
