#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/base/unique_fd.h"
#include "trace/trace.h"

namespace fuzz_support {
namespace {

struct scratch_t {
  scratch_t() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/velmora-fuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~scratch_t() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

const std::string& scratch_directory() {
  static const scratch_t scratch;
  return scratch.path;
}

void trace_into_scratch() {
  static trace_file_t record;
  static const bool published = [] {
    trace_publish(&record);
    trace_use_path(string_t((scratch_directory() + "/velmora.trace").c_str()));
    return true;
  }();
  (void)published;
}

std::string data_directory() {
  return VELMORA_FUZZ_DATA;
}

void write_file(const std::string& path, std::string_view bytes) {
  const platform::unique_fd_t fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd) std::abort();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace fuzz_support
