#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "service/helper_tool.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/trace_lines.h"

namespace install_test {

using sandbox_session::administrator_session;
using sandbox_session::journal_calls;
using sandbox_session::kAlice;
inline constexpr const char* kInstalledBundle = "/Applications/Velmora.app";
// The bundle's executable appends the path it was started as to this file.
inline constexpr const char* kStartedLog = "/var/run/velmora-started.log";

using test_support::trace_line_t;
using line_matcher_t = ::testing::Matcher<const trace_line_t&>;
line_matcher_t info(const std::string& message);
line_matcher_t warning(const std::string& message);
line_matcher_t error(const std::string& message);

using test_support::read_text;
using test_support::status_of;
using test_support::write_text;

void makeDirectory(const std::string& path, mode_t mode = 0755, uid_t owner = 0);
bool exists(const std::string& path);  // without following a last link

// A bundle the way a user downloads it: owned by the user, with loose modes, whose executable
// records its start in kStartedLog. Returns its path.
std::string makeUserBundle(const std::string& bundle_path, uid_t owner = kAlice);
// A user's configuration folder with the files the global configuration copies.
std::string makeUserConfig(const std::string& dir, uid_t owner = kAlice);

// The paths the started applications recorded, one per start.
std::vector<std::string> startedApplications();

// Every path under dir, relative, found without following links.
std::vector<std::string> treeOf(const std::string& dir);

class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  // A session whose user cancels the credentials dialog.
  static auth_data_t cancelled();

  // Each asserts that the reply came exactly once.
  bool install(const auth_data_t& auth, const std::string& bundle_path,
               const std::string& vl_namespace, const std::string& sysconfig = "");
  bool uninstall(const auth_data_t& auth, const std::string& bundle_path,
                 const std::string& vl_namespace);

  std::vector<trace_line_t> lines() const;
  std::vector<std::string> messages() const;  // "level message", for order checks
  bool traced(const line_matcher_t& line) const;
  // The warnings of the install and uninstall flows themselves.
  std::vector<std::string> flowWarnings() const;

  helper_tool_t tool;
  std::string trace_path_;
};

}  // namespace install_test
