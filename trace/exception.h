#pragma once

#include <utility>

#include "trace/string.h"

namespace base {

class exception_t {
 public:
  explicit exception_t(string_t message) : message_(std::move(message)) {}
  virtual ~exception_t();

  const string_t& message() const { return message_; }

 private:
  string_t message_;
};

// Thrown when a byte buffer cannot be allocated; nothing catches it.
class out_of_memory_exception_t : public exception_t {
 public:
  out_of_memory_exception_t();
  ~out_of_memory_exception_t() override;
};

}  // namespace base
