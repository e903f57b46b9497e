#include "platform/authorization/polkit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/authorization/right_registration.h"

namespace authorization = platform::authorization;
using authorization::polkit_answer_t;

namespace {

TEST(PolkitSubjectTest, StartTimeIsField22CountedFromTheEndOfTheCommandName) {
  const std::string tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654321 20 21";
  EXPECT_EQ(authorization::start_time_of_stat("42 (sleep)" + tail), 987654321U);
  // A command may name itself with spaces and parentheses to shift a naive split.
  EXPECT_EQ(authorization::start_time_of_stat("42 (a) 1 2 (b) c)" + tail), 987654321U);
  EXPECT_FALSE(authorization::start_time_of_stat("42 (sleep) S 1 2 3"));
  EXPECT_FALSE(authorization::start_time_of_stat("42 sleep S 1 2"));
  EXPECT_FALSE(authorization::start_time_of_stat(
      "42 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 12ab 20"));
}

TEST(PolkitSubjectTest, OwnProcessMatchesProcStat) {
  std::ifstream file("/proc/self/stat");
  std::string stat;
  std::getline(file, stat);
  const auto subject = authorization::polkit_subject_of(::getpid(), ::getuid(), -1);
  ASSERT_TRUE(subject);
  EXPECT_EQ(subject->pid, ::getpid());
  EXPECT_EQ(subject->uid, ::getuid());
  EXPECT_EQ(subject->start_time, authorization::start_time_of_stat(stat));
  EXPECT_FALSE(authorization::polkit_subject_of(0, 0, -1));
}

// A challenge is never a grant: with interaction allowed it says that nobody could be asked.
TEST(PolkitAnswerTest, OnlyAnUnchallengedYesGrants) {
  EXPECT_EQ(authorization::polkit_answer_of(true, false, false), polkit_answer_t::authorized);
  EXPECT_EQ(authorization::polkit_answer_of(true, true, false), polkit_answer_t::no_agent);
  EXPECT_EQ(authorization::polkit_answer_of(false, true, false), polkit_answer_t::no_agent);
  EXPECT_EQ(authorization::polkit_answer_of(false, false, true), polkit_answer_t::dismissed);
  EXPECT_EQ(authorization::polkit_answer_of(false, true, true), polkit_answer_t::dismissed);
  EXPECT_EQ(authorization::polkit_answer_of(false, false, false), polkit_answer_t::not_authorized);
}

TEST(PolkitActionTest, OurRightsAreTheirOwnActionsEveryOtherRightTheCommonOne) {
  EXPECT_EQ(authorization::polkit_action_for_right("com.corvantix.Velmora.Helper.install_velmora"),
            "com.corvantix.Velmora.Helper.install_velmora");
  for (const char* other : {"config.modify.com.corvantix.Velmora.Helper.install_velmora",
                            "com.corvantix.Velmora.Helper.", "com.corvantix.Velmora.Helper.a.b",
                            "com.corvantix.Velmora.Helper.X", "system.privilege"}) {
    EXPECT_EQ(authorization::polkit_action_for_right(other),
              authorization::kPolkitOtherRightsAction)
        << other;
  }
}

TEST(RightRegistrationTest, OnlyWellFormedLinesWithAPredefinedRuleAreAdditions) {
  const auto additions = authorization::parse_right_additions(
      "a\tis-admin\tText of a\n"
      "b\tauthenticate-admin\t\n"
      "c\tallow\tmade-up rule\n"
      "\tis-admin\tno name\n"
      "d\tis-admin\n"
      "e\tis-admin\ttext\twith a tab\n"
      "f\tis-admin\tlast line without newline");
  ASSERT_EQ(additions.size(), 3U);
  EXPECT_EQ(additions[0].name, "a");
  EXPECT_EQ(additions[0].definition.rule, "is-admin");
  EXPECT_EQ(additions[0].definition.description, "Text of a");
  EXPECT_EQ(additions[1].name, "b");
  EXPECT_EQ(additions[1].definition.description, "");
  EXPECT_EQ(additions[2].name, "f");
}

}  // namespace
