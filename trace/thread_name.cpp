#include "trace/thread_name.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The kernel's limit, zero byte included.
constexpr std::size_t name_capacity = 16;

// A thread nobody named carries its process's name here (the kernel's 15-character command
// name, inherited at creation); it is shown as unnamed, like a thread without a name.
bool is_inherited_process_name(const char* name) {
  constexpr std::size_t command_name_length = name_capacity - 1;
  return std::strncmp(name, program_invocation_short_name, command_name_length) == 0 &&
         std::strlen(name) ==
             std::min(std::strlen(program_invocation_short_name), command_name_length);
}

struct cached_name_t {
  bool valid = false;
  char kernel[name_capacity] = {};
  char shown[name_capacity] = {};
};

}  // namespace

const char* current_thread_name() {
  thread_local cached_name_t cached;
  char kernel[name_capacity] = {};
  if (prctl(PR_GET_NAME, kernel) != 0) kernel[0] = '\0';
  if (cached.valid && std::memcmp(kernel, cached.kernel, name_capacity) == 0) return cached.shown;

  std::memcpy(cached.kernel, kernel, name_capacity);
  const char* shown = kernel;
  if (is_inherited_process_name(kernel)) shown = "";
  if (std::strcmp(kernel, "velmora") == 0) shown = "main";
  std::memcpy(cached.shown, shown, std::strlen(shown) + 1);
  cached.valid = true;
  return cached.shown;
}
