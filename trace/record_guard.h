#pragma once

#include "trace/trace.h"

// Holds the record's recursive mutex for the guard's lifetime.
class record_guard_t {
 public:
  explicit record_guard_t(trace_file_t& record) : record_(record) {
    pthread_mutex_lock(&record_.lock);
  }
  ~record_guard_t() { pthread_mutex_unlock(&record_.lock); }
  record_guard_t(const record_guard_t&) = delete;
  record_guard_t& operator=(const record_guard_t&) = delete;

 private:
  trace_file_t& record_;
};
