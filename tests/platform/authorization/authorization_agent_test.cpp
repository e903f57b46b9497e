#include "platform/authorization/authorization_agent.h"

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

namespace authorization = platform::authorization;
using kind_t = authorization::agent_answer_t::kind_t;
using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;

TEST(AgentOutput, UserLineThenPasswordLine) {
  const auto answer = authorization::parse_agent_output("alice\nalice-secret\n");
  ASSERT_EQ(answer.kind, kind_t::credentials);
  EXPECT_EQ(answer.user, "alice");
  EXPECT_EQ(answer.password, "alice-secret");

  const auto unterminated = authorization::parse_agent_output("alice\npass word");
  ASSERT_EQ(unterminated.kind, kind_t::credentials);
  EXPECT_EQ(unterminated.password, "pass word");
}

TEST(AgentOutput, AnythingElseIsNoAnswer) {
  EXPECT_EQ(authorization::parse_agent_output("").kind, kind_t::failed);
  EXPECT_EQ(authorization::parse_agent_output("alice").kind, kind_t::failed);
  EXPECT_EQ(authorization::parse_agent_output("\nsecret\n").kind, kind_t::failed);
  EXPECT_EQ(authorization::parse_agent_output("alice\nsecret\nmore\n").kind, kind_t::failed);
}

class AgentRunTest : public ::testing::Test {
 protected:
  std::string agent(const std::string& body) {
    std::string path = dir.path("agent");
    write_text(path, "#!/bin/sh\n" + body + "\n", 0755);
    return path;
  }
  scratch_directory_t dir;
};

TEST_F(AgentRunTest, PassesRightAndDescriptionAndReadsTheAnswer) {
  const std::string seen = dir.path("arguments");
  const auto answer = authorization::run_authorization_agent(
      agent("printf '%s|%s' \"$1\" \"$2\" > " + seen + "; printf 'alice\\nalice-secret\\n'"),
      "com.example.right", "Velmora is trying to install itself");
  ASSERT_EQ(answer.kind, kind_t::credentials);
  EXPECT_EQ(answer.user, "alice");
  EXPECT_EQ(answer.password, "alice-secret");
  EXPECT_EQ(read_text(seen), "com.example.right|Velmora is trying to install itself");
}

TEST_F(AgentRunTest, ExitOneIsCancel) {
  EXPECT_EQ(authorization::run_authorization_agent(agent("exit 1"), "r", "d").kind,
            kind_t::cancelled);
}

TEST_F(AgentRunTest, OtherEndingsAreFailures) {
  EXPECT_EQ(
      authorization::run_authorization_agent(agent("echo alice; echo pw; exit 3"), "r", "d").kind,
      kind_t::failed);
  EXPECT_EQ(authorization::run_authorization_agent(agent("kill -KILL $$"), "r", "d").kind,
            kind_t::failed);
  EXPECT_EQ(authorization::run_authorization_agent(dir.path("no-such-agent"), "r", "d").kind,
            kind_t::failed);
  EXPECT_EQ(authorization::run_authorization_agent(agent("head -c 200000 /dev/zero | tr '\\0' a"),
                                                   "r", "d")
                .kind,
            kind_t::failed);
}

TEST_F(AgentRunTest, AgentGetsNoInput) {
  // A prompt read from standard input must see end of file, not hang on the daemon's input.
  const auto answer = authorization::run_authorization_agent(
      agent("if read line; then exit 3; fi; printf 'alice\\nsecret\\n'"), "r", "d");
  EXPECT_EQ(answer.kind, kind_t::credentials);
}
