// Every program a user can start answers "--help" with its usage and refuses an option it does not
// take, before it does anything: on the host, the stand-ins never reach their refusal to run
// outside the throwaway root, and nothing is created.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/sandbox/support.h"
#include "tests/support/scratch_directory.h"

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

// Runs program with one argument in directory.
sandbox::run_result_t run(const std::string& directory, const char* program, const char* argument) {
  return sandbox::run(
      {"/bin/sh", "-c", "cd \"$1\" && exec \"$2\" \"$3\"", "sh", directory, program, argument});
}

bool is_empty(const std::string& directory) {
  return std::filesystem::directory_iterator(directory) == std::filesystem::directory_iterator();
}

TEST(CommandLine, HelpPrintsTheUsageAndSucceeds) {
  const test_support::scratch_directory_t scratch;
  for (const program_t& program : programs()) {
    SCOPED_TRACE(program.path);
    const sandbox::run_result_t help = run(scratch.path(), program.path, "--help");
    EXPECT_EQ(help.status, 0) << help.errors;
    EXPECT_EQ(help.output.rfind(program.usage, 0), 0u) << help.output;
    EXPECT_EQ(help.errors, "");
    EXPECT_TRUE(is_empty(scratch.path())) << "--help created a file";
  }
}

TEST(CommandLine, AnUnknownOptionIsRefusedWithTheUsage) {
  const test_support::scratch_directory_t scratch;
  for (const program_t& program : programs()) {
    SCOPED_TRACE(program.path);
    const sandbox::run_result_t refused = run(scratch.path(), program.path, "--no-such-option");
    EXPECT_EQ(refused.status, 64) << refused.errors;
    EXPECT_EQ(refused.output, "");
    EXPECT_NE(refused.errors.find(program.usage), std::string::npos) << refused.errors;
    EXPECT_TRUE(is_empty(scratch.path())) << "a refused option created a file";
  }
}

}  // namespace
