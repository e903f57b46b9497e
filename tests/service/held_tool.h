#pragma once

#include <string>

#include "tests/system/replaced_tool.h"

// While it lives, the tool at tool_path is a script that, when called with first argument held,
// waits until the test releases it, and then (or at once, for any other call) runs body.
class held_tool_t {
 public:
  held_tool_t(const std::string& tool_path, const std::string& held, const std::string& body);
  ~held_tool_t();
  held_tool_t(const held_tool_t&) = delete;
  held_tool_t& operator=(const held_tool_t&) = delete;

  // True once the tool has been called with this first argument (waits up to 30 seconds for it).
  bool called_with(const std::string& first) const;
  void release();

 private:
  std::string gate_;
  replaced_tool_t tool_;
};
