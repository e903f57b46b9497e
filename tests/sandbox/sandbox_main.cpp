// The main function of tests that run inside the throwaway root. They write to /etc, /var and
// /Library as root, so they refuse to run anywhere else.

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/sandbox/support.h"

int main(int argc, char** argv) {
  if (!sandbox::inside_sandbox()) {
    std::fprintf(stderr,
                 "%s: runs only inside the throwaway root: "
                 "tests/sandbox/velmora-sandbox --build BUILD_DIR -- %s\n",
                 argv[0], argv[0]);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  // A case registered by name that no longer exists must not pass unnoticed.
  if (status == 0 && testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    std::fprintf(stderr, "%s: no test case matched\n", argv[0]);
    return 1;
  }
  return status;
}
