// Wildcards find the launchd lists and legacy files that installs sweep away, so a pattern that
// matches too much deletes files it must not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "service/helper_tool.h"
#include "tests/support/service_test_support.h"

using testing::IsEmpty;
using testing::UnorderedElementsAre;

class Wildcard : public testing::Test {
 protected:
  std::vector<std::string> resolve(const std::string& wildcard) {
    return helper.resolveFilesInDirectory(dir.path(), wildcard);
  }
  std::string full(const std::string& relative) { return dir.path() + "/" + relative; }

  helper_tool_t helper;
  service_test::scratch_directory_t dir;
};

TEST_F(Wildcard, DotsAreLiteralTheMatchIsAnchoredAndCaseIsIgnored) {
  for (const char* name :
       {"com.corvantix.velmora_x.service.plist", "COM.CORVANTIX.VELMORA.SERVICE.PLIST",
        "com.corvantixXvelmora.service.plist", "com.corvantix.velmora.service.plist.bak",
        "x.com.corvantix.velmora.service.plist"}) {
    dir.add_file(name);
  }
  EXPECT_THAT(resolve("com.corvantix.velmora*.service.plist"),
              UnorderedElementsAre(full("com.corvantix.velmora_x.service.plist"),
                                   full("COM.CORVANTIX.VELMORA.SERVICE.PLIST")));
}

TEST_F(Wildcard, QuestionMarkIsExactlyOneCharacter) {
  for (const char* name : {"abc", "ac", "abbc"})
    dir.add_file(name);
  EXPECT_THAT(resolve("a?c"), UnorderedElementsAre(full("abc")));
}

TEST_F(Wildcard, MatchesTheWholeRelativePathAtAnyDepth) {
  dir.add_file("sub/vlwrap_velmora1");
  dir.add_file("vlwrap_velmora/old");
  dir.add_file("vlwrap_velmora2");
  EXPECT_THAT(resolve("vlwrap_velmora*"),
              UnorderedElementsAre(full("vlwrap_velmora"), full("vlwrap_velmora/old"),
                                   full("vlwrap_velmora2")));
}

// Names are Unicode text to the platform's expression class, not bytes.
TEST_F(Wildcard, NonAsciiNamesMatchByCharacterAndFoldCaseAsUnicodeDoes) {
  for (const char* name : {"CAF\u00c9.plist", "caf\u00e9", "caf\u00e9\u00e9", "\u00c5ngstr\u00f6m"})
    dir.add_file(name);
  EXPECT_THAT(resolve("caf\u00e9.plist"), UnorderedElementsAre(full("CAF\u00c9.plist")));
  EXPECT_THAT(resolve("caf?"), UnorderedElementsAre(full("caf\u00e9")));
  EXPECT_THAT(resolve("caf??"), UnorderedElementsAre(full("caf\u00e9\u00e9")));
  EXPECT_THAT(resolve("?NGSTR?M"), UnorderedElementsAre(full("\u00c5ngstr\u00f6m")));
}

// "?" and "*" never match a line feed inside a name; "$" matches before a final one.
TEST_F(Wildcard, LineFeedsInNamesAreLineTerminators) {
  for (const char* name : {"a\nc", "abc", "abc\n", "x\ny.plist"})
    dir.add_file(name);
  EXPECT_THAT(resolve("a?c"), UnorderedElementsAre(full("abc"), full("abc\n")));
  EXPECT_THAT(resolve("abc"), UnorderedElementsAre(full("abc"), full("abc\n")));
  EXPECT_THAT(resolve("*.plist"), IsEmpty());
  EXPECT_THAT(resolve("a*"), UnorderedElementsAre(full("abc"), full("abc\n")));
}

TEST_F(Wildcard, LinkedFoldersAreMatchedButNotEntered) {
  dir.add_file("real/velmora.plist");
  ASSERT_EQ(::symlink(dir.path("real").c_str(), dir.path("linked").c_str()), 0);
  EXPECT_THAT(resolve("*velmora.plist"), UnorderedElementsAre(full("real/velmora.plist")));
  EXPECT_THAT(resolve("linked*"), UnorderedElementsAre(full("linked")));
}

TEST_F(Wildcard, OtherExpressionCharactersArePassedOn) {
  for (const char* name : {"aab", "a+b", "abe", "cde", "x[", "x"})
    dir.add_file(name);
  EXPECT_THAT(resolve("a+b"), UnorderedElementsAre(full("aab")));
  EXPECT_THAT(resolve("(ab|cd)e"), UnorderedElementsAre(full("abe"), full("cde")));
  EXPECT_THAT(resolve("x["), IsEmpty());  // does not compile: matches nothing
}

// Nested repetition backtracks exponentially on a near miss; without a bound the search would
// hold the request for hours. A long run of stars is only one star.
TEST_F(Wildcard, AnExpressionThatBacktracksWithoutEndMatchesNothing) {
  dir.add_file(std::string(64, 'a'));
  dir.add_file("b");
  EXPECT_THAT(resolve("(a|a?)+b"), IsEmpty());
  dir.add_file("x.plist");
  EXPECT_THAT(resolve(std::string(40, '*') + ".plist"), UnorderedElementsAre(full("x.plist")));
}

TEST_F(Wildcard, MissingDirectoryYieldsNothingAndTrailingSlashJoinsCleanly) {
  dir.add_file("a.plist");
  EXPECT_THAT(helper.resolveFilesInDirectory(dir.path() + "/missing", "*"), IsEmpty());
  EXPECT_THAT(helper.resolveFilesInDirectory(dir.path() + "/", "*.plist"),
              UnorderedElementsAre(full("a.plist")));
}
