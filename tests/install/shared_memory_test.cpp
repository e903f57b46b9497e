// Shared-memory clean-up against real objects in the throwaway root's /dev/shm.
#include "install/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "service/helper_tool.h"

namespace {

bool create_object(const std::string& name) {
  const int fd = shm_open(name.c_str(), O_CREAT | O_RDWR, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool object_exists(const std::string& name) {
  const int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

TEST(SharedMemory, RemovesTheChannelsObjectsAndNoOthers) {
  const std::vector<std::string> removed = {"7ef12048", "3a73809b", "06a759f0",
                                            "ff4bc0b6", "83a44513", "515bf08d"};
  const std::vector<std::string> kept = {
      "7ef12049", "vl_gsystem_shm", "48f02e7f",
      std::string(shared_memory::object_name("usystem", "shm").view())};
  for (const auto& name : removed)
    ASSERT_TRUE(create_object(name)) << name;
  for (const auto& name : kept)
    ASSERT_TRUE(create_object(name)) << name;

  helper_tool_t helper;
  helper.cleanSharedMemory("gsystem");
  helper.cleanSharedMemory("lsystem");
  helper.cleanSharedMemory("gsystem");  // nothing left to remove is no failure
  string_t absent("usystem");
  absent.release();
  helper.cleanSharedMemory(absent);

  for (const auto& name : removed)
    EXPECT_FALSE(object_exists(name)) << name;
  for (const auto& name : kept)
    EXPECT_TRUE(object_exists(name)) << name;
}

}  // namespace
