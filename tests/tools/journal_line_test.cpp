#include "tools/journal/journal_line.h"

#include <gtest/gtest.h>

#include "tools/journal/standin.h"

namespace standin {
namespace {

TEST(JournalLine, OneCallIsOneTabSeparatedLine) {
  EXPECT_EQ(format_journal_line({"/bin/launchctl", {"limit", "maxfiles", "65536", "1000000"}}),
            "/bin/launchctl\tlimit\tmaxfiles\t65536\t1000000\n");
  EXPECT_EQ(format_journal_line({"/sbin/reboot", {}}), "/sbin/reboot\n");
}

TEST(JournalLine, EveryArgumentSurvivesTheRoundTrip) {
  const std::vector<journal_entry_t> entries{
      {"/sbin/reboot", {}},
      {"/usr/bin/xattr", {""}},
      {"/usr/bin/xattr", {"", ""}},
      {"/bin/launchctl", {"load", "/Library/Launch Daemons/a b.plist"}},
      {"/bin/sh", {"-c", "ps -o pid,args -A | grep \"a\tb\"\nnext"}},
      {"/x", {"back\\slash", "\\t", "\\", "trailing\\"}},
  };
  for (const auto& entry : entries) {
    const auto line = format_journal_line(entry);
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_EQ(parse_journal_line(line), entry) << line;
  }
}

TEST(JournalLine, NoArgumentAndOneEmptyArgumentDiffer) {
  EXPECT_NE(format_journal_line({"/sbin/reboot", {}}), format_journal_line({"/sbin/reboot", {""}}));
  EXPECT_EQ(parse_journal_line("/sbin/reboot\t")->arguments, std::vector<std::string>{""});
  EXPECT_TRUE(parse_journal_line("/sbin/reboot")->arguments.empty());
}

TEST(JournalLine, MalformedEscapesAreRejected) {
  EXPECT_FALSE(parse_journal_line("/x\ta\\qb"));
  EXPECT_FALSE(parse_journal_line("/x\tends in\\"));
  EXPECT_FALSE(parse_journal_line("/x\\"));
}

TEST(StandinTool, NameIsTheLastPathComponent) {
  EXPECT_EQ(tool_name("/bin/launchctl"), "launchctl");
  EXPECT_EQ(tool_name("/usr/bin/dns-sd"), "dns-sd");
  EXPECT_EQ(tool_name("reboot"), "reboot");
}

}  // namespace
}  // namespace standin
