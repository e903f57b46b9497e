#pragma once

#include <string>
#include <utility>
#include <vector>

// A shell script that records the arguments of each call (arguments without newlines) and then
// runs its body. Removed when it goes.
class recording_script_t {
 public:
  recording_script_t(std::string path, const std::string& body);
  recording_script_t(const recording_script_t&) = delete;
  recording_script_t& operator=(const recording_script_t&) = delete;
  ~recording_script_t();

  const std::string& path() const { return path_; }
  // The argument vectors of the calls so far, in order.
  std::vector<std::vector<std::string>> calls() const;

 private:
  std::string path_;
  std::string record_path_;
};

// Inside the throwaway root only: a recording script mounted over a system tool (the root's
// /usr/bin and /usr/sbin are read-only), unmounted when it goes. Outside the root it does
// nothing but fail the test.
class replaced_tool_t {
 public:
  replaced_tool_t(std::string tool_path, const std::string& body);
  replaced_tool_t(const replaced_tool_t&) = delete;
  replaced_tool_t& operator=(const replaced_tool_t&) = delete;
  ~replaced_tool_t();

  std::vector<std::vector<std::string>> calls() const { return script_.calls(); }

 private:
  std::string tool_path_;
  recording_script_t script_;
  bool mounted_ = false;
};

// The lines of the trace file at path written through handle name, as (level, message) pairs.
std::vector<std::pair<std::string, std::string>> trace_lines_of(const std::string& path,
                                                                const std::string& name);
