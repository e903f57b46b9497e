#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/helper_tool.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"

// What the install and control tests share: trace lines, reply blocks.
namespace service_test {

// A reply block that remembers its answers; a handler must call it exactly once.
struct reply_recorder_t {
  std::vector<bool> answers;
  bool_reply_t block() {
    return [this](bool answer) { answers.push_back(answer); };
  }
};

// Sends the process's trace lines to a fresh file for the life of the object.
class trace_capture_t {
 public:
  explicit trace_capture_t(std::string path);
  std::vector<test_support::trace_line_t> lines() const;

 private:
  std::string path_;
};

using scratch_directory_t = test_support::scratch_directory_t;

}  // namespace service_test
