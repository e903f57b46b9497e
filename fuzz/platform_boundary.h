#pragma once

#include <map>
#include <string>

// What the stand-ins at the platform boundary of the dispatch harness answer: every tool the
// service would run "ends" at once with this status and output, and nothing on disk changes.
namespace fuzz_boundary {

struct tool_answer_t {
  int status = 0;
  std::string output;
};

// The answer of every tool; set by the harness before each input.
tool_answer_t& tool_answer();

// How many tools the last input made the service start, by launch path.
std::map<std::string, int>& tools_started();

}  // namespace fuzz_boundary
