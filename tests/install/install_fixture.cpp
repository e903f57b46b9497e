#include "tests/install/install_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/sandbox/support.h"
#include "tools/authorization-agent/scenario.h"

namespace fs = std::filesystem;

namespace install_test {
namespace {

// Everything a request may leave in the root; emptied before each test.
constexpr const char* kScratchDirectories[] = {"/Applications",
                                               "/Library/LaunchDaemons",
                                               "/Library/LaunchAgents",
                                               "/Library/PrivilegedHelperTools",
                                               "/usr/local/bin",
                                               "/var/run/authd",
                                               "/var/run/standin-fail",
                                               "/var/run/launchd",
                                               "/dev/shm",
                                               "/home/alice",
                                               "/home/bob"};
constexpr const char* kScratchFiles[] = {"/var/run/standin.log", "/var/db/auth.db", kStartedLog,
                                         agent_scenario::scenario_path};

void emptyDirectory(const std::string& dir) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir, ignored))
    fs::remove_all(entry, ignored);
}

void cleanRoot() {
  for (const char* dir : kScratchDirectories)
    emptyDirectory(dir);
  std::error_code ignored;
  for (const char* file : kScratchFiles)
    fs::remove(file, ignored);
  for (const auto& entry : fs::directory_iterator("/etc", ignored)) {
    // Global configurations of the namespaces the tests use.
    if (entry.is_directory() && !entry.is_symlink() &&
        fs::exists(entry.path() / "system.conf", ignored)) {
      fs::remove_all(entry.path(), ignored);
    }
  }
  for (const auto& entry : fs::directory_iterator("/var/log", ignored)) {
    if (entry.path().extension() == ".trace") fs::remove(entry.path(), ignored);
  }
}

}  // namespace

line_matcher_t info(const std::string& message) {
  return test_support::is_line("info", message);
}
line_matcher_t warning(const std::string& message) {
  return test_support::is_line("warning", message);
}
line_matcher_t error(const std::string& message) {
  return test_support::is_line("error", message);
}

void makeDirectory(const std::string& path, mode_t mode, uid_t owner) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

bool exists(const std::string& path) {
  return status_of(path).has_value();
}

std::string makeUserBundle(const std::string& bundle_path, uid_t owner) {
  makeDirectory(bundle_path, 0777, owner);
  makeDirectory(bundle_path + "/Contents", 0775, owner);
  makeDirectory(bundle_path + "/Contents/MacOS", 0700, owner);
  makeDirectory(bundle_path + "/Contents/Resources", 0777, owner);
  EXPECT_TRUE(write_text(bundle_path + "/Contents/Info.plist",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                         "<key>CFBundleExecutable</key><string>Velmora</string></dict></plist>\n",
                         0666, owner));
  EXPECT_TRUE(write_text(bundle_path + "/Contents/MacOS/Velmora",
                         std::string("#!/bin/sh\nprintf '%s\\n' \"$0\" >> ") + kStartedLog + "\n",
                         04777, owner));
  EXPECT_TRUE(write_text(bundle_path + "/Contents/Resources/strings.txt", "hello\n", 0666, owner));
  return bundle_path;
}

std::string makeUserConfig(const std::string& dir, uid_t owner) {
  makeDirectory(dir, 0755, owner);
  for (const char* name : {"system.conf", "service.conf", "connection_trace.txt"}) {
    EXPECT_TRUE(write_text(dir + "/" + name, std::string(name) + "\n", 0644, owner));
  }
  return dir;
}

std::vector<std::string> startedApplications() {
  std::vector<std::string> paths;
  std::istringstream log(read_text(kStartedLog));
  for (std::string line; std::getline(log, line);)
    paths.push_back(line);
  return paths;
}

std::vector<std::string> treeOf(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(dir, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    paths.push_back(it->path().lexically_relative(dir).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

void InstallFixture::SetUp() {
  cleanRoot();
  trace_path_ = "/var/log/install-test-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                ".log";
  std::error_code ignored;
  fs::remove(trace_path_, ignored);
  trace_use_path(string_t(trace_path_.c_str()));
}

auth_data_t InstallFixture::cancelled() {
  auto session = sandbox_session::register_session_for(kAlice);
  sandbox_session::set_agent_scenario({"cancel"});
  return session;
}

bool InstallFixture::install(const auth_data_t& auth, const std::string& bundle_path,
                             const std::string& vl_namespace, const std::string& sysconfig) {
  int replies = 0;
  bool answer = false;
  tool.install_velmora_with_auth_data(auth, bundle_path, sysconfig, vl_namespace, "alice",
                                      [&](bool result) {
                                        ++replies;
                                        answer = result;
                                      });
  EXPECT_EQ(replies, 1);
  return answer;
}

bool InstallFixture::uninstall(const auth_data_t& auth, const std::string& bundle_path,
                               const std::string& vl_namespace) {
  int replies = 0;
  bool answer = false;
  tool.uninstall_velmora_with_auth_data(auth, bundle_path, "", vl_namespace, "alice",
                                        [&](bool result) {
                                          ++replies;
                                          answer = result;
                                        });
  EXPECT_EQ(replies, 1);
  return answer;
}

std::vector<trace_line_t> InstallFixture::lines() const {
  return test_support::read_trace_lines(trace_path_);
}

std::vector<std::string> InstallFixture::flowWarnings() const {
  std::vector<std::string> result;
  for (const auto& line : lines()) {
    // Resetting rights that were never stored warns; that is the authorization's business.
    if (line.level == "warning" && !line.message.starts_with("can't delete com.corvantix.")) {
      result.push_back(line.message);
    }
  }
  return result;
}

std::vector<std::string> InstallFixture::messages() const {
  std::vector<std::string> result;
  for (const auto& line : lines())
    result.push_back(line.level + " " + line.message);
  return result;
}

bool InstallFixture::traced(const line_matcher_t& line) const {
  const auto all = lines();
  return std::any_of(all.begin(), all.end(), [&](const auto& each) { return line.Matches(each); });
}

}  // namespace install_test
