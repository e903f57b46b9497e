#include <unistd.h>

#include <atomic>
#include <new>

#include "trace/record_guard.h"
#include "trace/trace.h"
#include "trace/trace_writer.h"

trace_file_t::trace_file_t() : path("") {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

trace_file_t::~trace_file_t() {
  if (descriptor > 0) ::close(descriptor);
  pthread_mutex_destroy(&lock);
}

namespace {

// The record used until start-up publishes its own. It is never destroyed, so a line written
// while the process exits (a detached thread, a static destructor) still finds it intact.
trace_file_t& initial_record() {
  alignas(trace_file_t) static unsigned char storage[sizeof(trace_file_t)];
  static trace_file_t* const record = ::new (storage) trace_file_t();
  return *record;
}

std::atomic<trace_file_t*> published_record{nullptr};
std::atomic<const char*> component_name{""};

// Made during static initialisation, before the process entry runs; released at exit.
string_t process_trace_directory;

}  // namespace

trace_file_t* trace_record() {
  trace_file_t* record = published_record.load(std::memory_order_acquire);
  return record != nullptr ? record : &initial_record();
}

void trace_publish(trace_file_t* record) {
  published_record.store(record, std::memory_order_release);
}

void trace_use_path(const string_t& path) {
  trace_file_t* record = trace_record();
  const record_guard_t hold(*record);
  if (record->descriptor > 0) ::close(record->descriptor);
  record->descriptor = 0;
  record->path = path;
}

void trace_set_component(const char* component) {
  component_name.store(component != nullptr ? component : "", std::memory_order_release);
}

const char* trace_component() {
  return component_name.load(std::memory_order_acquire);
}

string_t& trace_directory() {
  return process_trace_directory;
}
