// Runs inside the throwaway root: whoever reads the test signing key can sign a client that the
// helper serves, so no user but root may.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/sandbox/support.h"
#include "tests/support/sandbox_session.h"

namespace {

TEST(TestSigningKey, OnlyRootReadsItInTheBuildTreeAndInTheRoot) {
  for (const std::string& key : {sandbox::build_dir() + "/sandbox-signing-identity/leaf.key",
                                 std::string("/var/db/codesign-test/leaf.key")}) {
    SCOPED_TRACE(key);
    struct stat status {};
    ASSERT_EQ(::stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const auto as_alice =
        sandbox::run(sandbox_session::as_user(sandbox_session::kAlice, {"/bin/cat", key}));
    EXPECT_NE(as_alice.status, 0);
    EXPECT_EQ(as_alice.output.find("PRIVATE KEY"), std::string::npos);
  }
}

}  // namespace
