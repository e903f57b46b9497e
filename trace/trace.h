#pragma once

#include <pthread.h>

#include <cstdarg>

#include "trace/string.h"

// The handle that names the writer of a trace line. A fixed name is not owned; a name made by
// the provider is a heap copy owned by the handle.
struct trace_t {
  using name_provider_t = const char* (*)();

  explicit trace_t(const char* fixed_name, name_provider_t provider = nullptr, bool on = true);
  trace_t(const trace_t&) = delete;
  trace_t& operator=(const trace_t&) = delete;
  ~trace_t();

  const char* name;
  name_provider_t name_provider;
  bool enabled;
};

// The process-wide trace file: its path, its descriptor (0 while not open) and the recursive
// mutex that guards opening it (and, here, each append and trim).
struct trace_file_t {
  trace_file_t();
  trace_file_t(const trace_file_t&) = delete;
  trace_file_t& operator=(const trace_file_t&) = delete;
  ~trace_file_t();

  string_t path;
  int descriptor = 0;
  pthread_mutex_t lock;
};

enum trace_level_t : int {
  trace_explode = 1,
  trace_auth = 2,
  trace_crash = 3,
  trace_level_error = 4,
  trace_level_warning = 5,
  trace_level_info = 6,
  trace_debug = 7,
  trace_internal = 8,
};

// The record every front-end writes through; start-up publishes it once.
trace_file_t* trace_record();
void trace_publish(trace_file_t* record);

// Points the published record at a new path, closing a file opened for an earlier one.
// Start-up calls it once; tests call it to give each case its own file.
void trace_use_path(const string_t& path);

// The component name printed in every line ("helper" in the daemon).
void trace_set_component(const char* component);

// The process-wide trace directory chosen at start-up.
string_t& trace_directory();

const char* trace_name(trace_t& trace);
void trace_write(trace_file_t* record, int level, const char* name, const char* format,
                 va_list args) __attribute__((format(printf, 4, 0)));

// printf-style front-ends, checked by the compiler. "%S" also takes a text argument like "%s",
// but the checker reads it as a wide text: call sites write "%s".
void trace_info(trace_t& trace, const char* format, ...) __attribute__((format(printf, 2, 3)));
void trace_warning(trace_t& trace, const char* format, ...) __attribute__((format(printf, 2, 3)));
void trace_error(trace_t& trace, const char* format, ...) __attribute__((format(printf, 2, 3)));
