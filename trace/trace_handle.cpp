#include <cstdlib>
#include <cstring>

#include "trace/thread_text.h"
#include "trace/trace.h"

// A handle given both a name and a provider owns its name (it is freed when both are set), so
// a fixed name given alongside a provider is copied rather than freed later by mistake.
trace_t::trace_t(const char* fixed_name, name_provider_t provider, bool on)
    : name(fixed_name != nullptr && provider != nullptr ? strdup(fixed_name) : fixed_name),
      name_provider(provider),
      enabled(on) {}

trace_t::~trace_t() {
  if (name != nullptr && name_provider != nullptr) {
    std::free(const_cast<char*>(name));
  }
}

const char* trace_name(trace_t& trace) {
  if (trace.name != nullptr) return trace.name;
  if (trace.name_provider == nullptr) return nullptr;

  // The provider may read hidden texts into this thread's buffer, where the caller's format
  // may lie; keep the buffer as the caller left it.
  char saved[thread_text_capacity];
  std::memcpy(saved, thread_text_buffer(), thread_text_capacity);
  const char* provided = trace.name_provider();
  trace.name = provided != nullptr ? strdup(provided) : nullptr;
  std::memcpy(thread_text_buffer(), saved, thread_text_capacity);
  return trace.name;
}
