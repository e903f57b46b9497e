#include "tests/support/sandbox_session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "platform/authorization/external_form.h"
#include "platform/authorization/rights_database.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tools/authorization-agent/scenario.h"
#include "tools/journal/standin.h"

using test_support::read_text;
using test_support::write_text;

namespace authorization = platform::authorization;

namespace sandbox_session {
namespace {

void remove_contents(const std::string& directory) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

}  // namespace

std::vector<std::uint8_t> administrator_session(int answers) {
  auto session = register_session_for(kAlice);
  set_agent_scenario(
      std::vector<std::string>(static_cast<std::size_t>(answers), "alice alice-secret"));
  return session;
}

std::vector<std::uint8_t> register_session_as(uid_t user) {
  std::array<int, 2> pipe_ends{};
  EXPECT_EQ(::pipe(pipe_ends.data()), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
    const auto form = authorization::AuthorizationCreateExternalForm(nullptr);
    if (!form) ::_exit(3);
    const auto wrote = ::write(pipe_ends[1], form->data(), form->size());
    ::_exit(wrote == static_cast<ssize_t>(form->size()) ? 0 : 4);
  }
  ::close(pipe_ends[1]);
  std::vector<std::uint8_t> form(authorization::kAuthorizationExternalFormLength);
  const auto got = ::read(pipe_ends[0], form.data(), form.size());
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "client as uid " << user;
  EXPECT_EQ(got, static_cast<ssize_t>(form.size()));
  return form;
}

std::vector<std::string> as_user(uid_t user, std::vector<std::string> argv) {
  const std::string id = std::to_string(user);
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid", id, "--regid", id, "--clear-groups"});
  return argv;
}

std::vector<std::uint8_t> register_session_for(uid_t user) {
  std::string error;
  const auto form = authorization::AuthorizationCreateExternalForm(&error);
  EXPECT_TRUE(form) << error;
  if (!form) return {};
  EXPECT_EQ(::chown(session_path(*form).c_str(), user, user), 0);
  return *form;
}

std::string session_path(const std::vector<std::uint8_t>& external_form) {
  const auto token = authorization::session_token_from_bytes(external_form);
  EXPECT_TRUE(token);
  return token ? authorization::session_file_path(authorization::kAuthorizationSessionDirectory,
                                                  *token)
               : std::string();
}

void set_agent_scenario(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines)
    text += line + "\n";
  write_text(agent_scenario::scenario_path, text, 0600);
}

std::string agent_scenario_left() {
  return read_text(agent_scenario::scenario_path);
}

std::vector<std::vector<std::string>> journal_calls(const std::string& tool) {
  std::vector<std::vector<std::string>> calls;
  for (auto& entry : sandbox::journal_calls_of(tool))
    calls.push_back(std::move(entry.arguments));
  return calls;
}

void clean_root() {
  remove_contents(authorization::kAuthorizationSessionDirectory);
  remove_contents(standin::failure_directory);
  std::error_code ignored;
  std::filesystem::remove(authorization::kAuthorizationDatabasePath, ignored);
  std::filesystem::remove(agent_scenario::scenario_path, ignored);
  std::filesystem::remove(standin::journal_path, ignored);
}

}  // namespace sandbox_session
