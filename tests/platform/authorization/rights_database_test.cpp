#include "platform/authorization/rights_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;

namespace authorization = platform::authorization;

class RightsDatabaseTest : public ::testing::Test {
 protected:
  scratch_directory_t dir;
  std::string path = dir.path("auth.db");
};

TEST_F(RightsDatabaseTest, MissingDatabaseIsCreatedEmpty) {
  authorization::rights_database_t database(path);
  ASSERT_TRUE(database.is_open());
  EXPECT_EQ(::access(path.c_str(), F_OK), 0);
  authorization::right_definition_t definition{"untouched", "untouched"};
  EXPECT_EQ(database.get("com.example.right", &definition), platform::errAuthorizationDenied);
  EXPECT_EQ(definition.rule, "untouched");
}

TEST_F(RightsDatabaseTest, SetGetReplaceRemove) {
  authorization::rights_database_t database(path);
  ASSERT_EQ(database.set("r", {"is-admin", "first"}), platform::errAuthorizationSuccess);
  authorization::right_definition_t definition;
  ASSERT_EQ(database.get("r", &definition), platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.rule, "is-admin");
  EXPECT_EQ(definition.description, "first");
  EXPECT_EQ(database.get("r", nullptr), platform::errAuthorizationSuccess);

  ASSERT_EQ(database.set("r", {"authenticate-admin", "second"}), platform::errAuthorizationSuccess);
  ASSERT_EQ(database.get("r", &definition), platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.rule, "authenticate-admin");
  EXPECT_EQ(definition.description, "second");

  EXPECT_EQ(database.remove("r"), platform::errAuthorizationSuccess);
  EXPECT_EQ(database.remove("r"), platform::errAuthorizationDenied);
  EXPECT_EQ(database.get("r", &definition), platform::errAuthorizationDenied);
}

TEST_F(RightsDatabaseTest, NamesAreDataNotSql) {
  authorization::rights_database_t database(path);
  const std::string hostile = "x'; DROP TABLE rights; --";
  ASSERT_EQ(database.set("kept", {"is-admin", ""}), platform::errAuthorizationSuccess);
  ASSERT_EQ(database.set(hostile, {"is-admin", ""}), platform::errAuthorizationSuccess);
  EXPECT_EQ(database.remove(hostile), platform::errAuthorizationSuccess);
  EXPECT_EQ(database.get("kept", nullptr), platform::errAuthorizationSuccess);
}

// Another process (the security tool) may hold the write lock for a while; a change made
// meanwhile waits for it instead of failing.
TEST_F(RightsDatabaseTest, WriteWaitsForAConcurrentWriter) {
  authorization::rights_database_t database(path);
  ASSERT_TRUE(database.is_open());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  // The waiting writer holds a read lock for a moment at each retry; the commit waits that out.
  sqlite3_busy_timeout(other, 10000);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO rights VALUES('held','is-admin','')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);

  auto change = std::async(std::launch::async, [&] {
    return database.set("waiting", {"is-admin", ""});
  });
  EXPECT_EQ(change.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  EXPECT_EQ(change.get(), platform::errAuthorizationSuccess);
  EXPECT_EQ(database.get("held", nullptr), platform::errAuthorizationSuccess);
  EXPECT_EQ(database.get("waiting", nullptr), platform::errAuthorizationSuccess);
}

TEST_F(RightsDatabaseTest, ManyWritersLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kRightsEach = 8;
  std::vector<std::thread> writers;
  writers.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([this, t] {
      authorization::rights_database_t database(path);
      for (int i = 0; i < kRightsEach; ++i) {
        EXPECT_EQ(database.set(std::to_string(t) + "." + std::to_string(i), {"is-admin", ""}),
                  platform::errAuthorizationSuccess);
      }
    });
  }
  for (auto& writer : writers)
    writer.join();
  authorization::rights_database_t database(path);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kRightsEach; ++i) {
      EXPECT_EQ(database.get(std::to_string(t) + "." + std::to_string(i), nullptr),
                platform::errAuthorizationSuccess);
    }
  }
}

TEST_F(RightsDatabaseTest, LinkedDatabaseIsNotOpened) {
  write_text(dir.path("elsewhere"), "");
  ASSERT_EQ(::symlink(dir.path("elsewhere").c_str(), path.c_str()), 0);
  authorization::rights_database_t database(path);
  EXPECT_FALSE(database.is_open());
  EXPECT_EQ(database.get("r", nullptr), platform::errAuthorizationInternal);
  EXPECT_EQ(database.set("r", {"is-admin", ""}), platform::errAuthorizationInternal);
  EXPECT_EQ(read_text(dir.path("elsewhere")), "");
}
