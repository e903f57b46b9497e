#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tools/journal/standin.h"

// These tests create sessions, the authorization database and scenario files at system paths:
// they run only inside the throwaway root.
int main(int argc, char** argv) {
  if (::access(standin::sandbox_marker_path, F_OK) != 0 || ::geteuid() != 0) {
    std::fprintf(stderr, "%s: runs only as root inside the throwaway root\n", argv[0]);
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
