#include "tests/system/replaced_tool.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <sstream>

#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/support/trace_lines.h"

namespace {

std::string script_path_for(const std::string& tool_path) {
  return "/var/run/replaced-" + std::to_string(getpid()) + "-" +
         tool_path.substr(tool_path.rfind('/') + 1);
}

}  // namespace

recording_script_t::recording_script_t(std::string path, const std::string& body)
    : path_(std::move(path)), record_path_(path_ + ".calls") {
  // One record line per call: the arguments, each ended by a NUL byte.
  const std::string script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done >>" +
                             record_path_ + "\necho >>" + record_path_ + "\n" + body + "\n";
  EXPECT_TRUE(test_support::write_text(path_, script, 0755)) << path_;
  EXPECT_TRUE(test_support::write_text(record_path_, ""));
}

recording_script_t::~recording_script_t() {
  ::unlink(path_.c_str());
  ::unlink(record_path_.c_str());
}

std::vector<std::vector<std::string>> recording_script_t::calls() const {
  std::vector<std::vector<std::string>> calls;
  std::istringstream record(test_support::read_text(record_path_));
  std::string line;
  while (std::getline(record, line)) {
    std::vector<std::string> arguments;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\0'))
      arguments.push_back(field);
    calls.push_back(arguments);
  }
  return calls;
}

replaced_tool_t::replaced_tool_t(std::string tool_path, const std::string& body)
    : tool_path_(std::move(tool_path)), script_(script_path_for(tool_path_), body) {
  if (!sandbox::inside_sandbox()) {
    ADD_FAILURE() << "tools are replaced only inside the throwaway root";
    return;
  }
  mounted_ = ::mount(script_.path().c_str(), tool_path_.c_str(), nullptr, MS_BIND, nullptr) == 0;
  EXPECT_TRUE(mounted_) << tool_path_;
}

replaced_tool_t::~replaced_tool_t() {
  if (mounted_) ::umount2(tool_path_.c_str(), MNT_DETACH);
}

std::vector<std::pair<std::string, std::string>> trace_lines_of(const std::string& path,
                                                                const std::string& name) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (auto& line : test_support::read_trace_lines(path)) {
    if (line.name == name) lines.emplace_back(std::move(line.level), std::move(line.message));
  }
  return lines;
}
