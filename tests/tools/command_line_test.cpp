// Every program a user can start answers "--help" with its usage and refuses an option it does not
// take, before it does anything: on the host, the stand-ins never reach their refusal to run
// outside the throwaway root, and nothing is created.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/temporary_directory.h"

namespace {

struct program_t {
  const char* path;
  const char* usage;  // how the usage begins
};

const std::vector<program_t>& programs() {
  static const std::vector<program_t> table{
      {VELMORA_HELPER, "usage: com.corvantix.velmora-vl-5e3a07c4.Helper"},
      {VELMORA_HELPERCTL, "usage: velmora-helperctl"},
      {VELMORA_CODESIGN, "usage: velmora-codesign"},
      {VELMORA_SIGNING_IDENTITY, "usage: velmora-test-signing-identity"},
      {VELMORA_ANSWER_AGENT, "usage: velmora-test-answer-agent"},
      {STANDIN_AUTHORIZATION_AGENT, "usage: authorization-agent"},
      {STANDIN_DNS_SD, "Usage: dns-sd"},
      {STANDIN_HDIUTIL, "Usage: hdiutil"},
      {STANDIN_LAUNCHCTL, "usage: launchctl"},
      {STANDIN_REBOOT, "usage: reboot"},
      {STANDIN_SECURITY, "usage: security"},
      {STANDIN_SYSCTL, "usage: sysctl"},
      {STANDIN_XATTR, "usage: xattr"},
  };
  return table;
}

struct run_t {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (const char c : text)
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// Runs the command line in directory, with its two outputs kept apart.
run_t run(const std::filesystem::path& directory, const std::string& program,
          const std::string& argument) {
  const std::filesystem::path err = directory / ".stderr";
  const std::string command = "cd " + quoted(directory) + " && " + quoted(program) + " " +
                              quoted(argument) + " 2>" + quoted(err) + " </dev/null";
  run_t result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    result.out += buffer;
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  FILE* file = std::fopen(err.c_str(), "r");
  if (file != nullptr) {
    while (std::fgets(buffer, sizeof buffer, file) != nullptr)
      result.err += buffer;
    std::fclose(file);
  }
  std::filesystem::remove(err);
  return result;
}

bool is_empty(const std::filesystem::path& directory) {
  return std::filesystem::directory_iterator(directory) == std::filesystem::directory_iterator();
}

TEST(command_line, help_prints_the_usage_and_succeeds) {
  const temporary_directory_t scratch;
  for (const program_t& program : programs()) {
    SCOPED_TRACE(program.path);
    const run_t help = run(scratch.path(), program.path, "--help");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.out.rfind(program.usage, 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_TRUE(is_empty(scratch.path())) << "--help created a file";
  }
}

TEST(command_line, an_unknown_option_is_refused_with_the_usage) {
  const temporary_directory_t scratch;
  for (const program_t& program : programs()) {
    SCOPED_TRACE(program.path);
    const run_t refused = run(scratch.path(), program.path, "--no-such-option");
    EXPECT_EQ(refused.status, 64) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(program.usage), std::string::npos) << refused.err;
    EXPECT_TRUE(is_empty(scratch.path())) << "a refused option created a file";
  }
}

}  // namespace
