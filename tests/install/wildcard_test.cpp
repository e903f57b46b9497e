// Wildcards find the launchd lists and legacy files that installs sweep away, so a pattern that
// matches too much deletes files it must not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST_F(Wildcard, OtherExpressionCharactersArePassedOn) {
  for (const char* name : {"aab", "a+b", "abe", "cde", "x[", "x"})
    dir.add_file(name);
  EXPECT_THAT(resolve("a+b"), UnorderedElementsAre(full("aab")));
  EXPECT_THAT(resolve("(ab|cd)e"), UnorderedElementsAre(full("abe"), full("cde")));
  EXPECT_THAT(resolve("x["), IsEmpty());  // does not compile: matches nothing
}

TEST_F(Wildcard, MissingDirectoryYieldsNothingAndTrailingSlashJoinsCleanly) {
  dir.add_file("a.plist");
  EXPECT_THAT(helper.resolveFilesInDirectory(dir.path() + "/missing", "*"), IsEmpty());
  EXPECT_THAT(helper.resolveFilesInDirectory(dir.path() + "/", "*.plist"),
              UnorderedElementsAre(full("a.plist")));
}
