#include "tests/install/install_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/authorization/external_form.h"
#include "platform/authorization/session_token.h"
#include "tests/sandbox/support.h"
#include "tools/authorization-agent/scenario.h"

namespace authorization = platform::authorization;
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

auth_data_t sessionOf(uid_t user, const std::vector<std::string>& agent_answers) {
  std::string failure;
  const auto form = authorization::AuthorizationCreateExternalForm(&failure);
  EXPECT_TRUE(form) << failure;
  if (!form) return std::nullopt;
  const auto token = authorization::session_token_from_bytes(*form);
  EXPECT_TRUE(token);
  const std::string session =
      authorization::session_file_path(authorization::kAuthorizationSessionDirectory, *token);
  EXPECT_EQ(chown(session.c_str(), user, user), 0) << session;
  std::string scenario;
  for (const auto& answer : agent_answers)
    scenario += answer + "\n";
  writeText(agent_scenario::scenario_path, scenario, 0600);
  return *form;
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

std::optional<file_status_t> statusOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return std::nullopt;
  return file_status_t{info.st_mode, info.st_uid, info.st_gid};
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text, mode_t mode, uid_t owner) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
  }
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void makeDirectory(const std::string& path, mode_t mode, uid_t owner) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

bool exists(const std::string& path) {
  return statusOf(path).has_value();
}

std::string makeUserBundle(const std::string& bundle_path, uid_t owner) {
  makeDirectory(bundle_path, 0777, owner);
  makeDirectory(bundle_path + "/Contents", 0775, owner);
  makeDirectory(bundle_path + "/Contents/MacOS", 0700, owner);
  makeDirectory(bundle_path + "/Contents/Resources", 0777, owner);
  writeText(bundle_path + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleExecutable</key><string>Velmora</string></dict></plist>\n",
            0666, owner);
  writeText(bundle_path + "/Contents/MacOS/Velmora",
            std::string("#!/bin/sh\nprintf '%s\\n' \"$0\" >> ") + kStartedLog + "\n", 04777, owner);
  writeText(bundle_path + "/Contents/Resources/strings.txt", "hello\n", 0666, owner);
  return bundle_path;
}

std::string makeUserConfig(const std::string& dir, uid_t owner) {
  makeDirectory(dir, 0755, owner);
  for (const char* name : {"system.conf", "service.conf", "connection_trace.txt"}) {
    writeText(dir + "/" + name, std::string(name) + "\n", 0644, owner);
  }
  return dir;
}

std::vector<std::string> startedApplications() {
  std::vector<std::string> paths;
  std::istringstream log(readText(kStartedLog));
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

auth_data_t InstallFixture::administrator(int answers) {
  return sessionOf(kAlice,
                   std::vector<std::string>(static_cast<size_t>(answers), "alice alice-secret"));
}

auth_data_t InstallFixture::cancelled() {
  return sessionOf(kAlice, {"cancel"});
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

std::vector<std::vector<std::string>> InstallFixture::callsOf(const std::string& tool_path) {
  std::vector<std::vector<std::string>> calls;
  for (const auto& entry : sandbox::journal_calls_of(tool_path))
    calls.push_back(entry.arguments);
  return calls;
}

}  // namespace install_test
