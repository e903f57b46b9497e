#include "tools/launchctl/job_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/scratch_directory.h"

using test_support::scratch_directory_t;

namespace standin {
namespace {

job_t sample_job(const std::string& label) {
  job_t job;
  job.label = label;
  job.path = "/Library/LaunchDaemons/" + label + ".plist";
  job.program_arguments = {"/Applications/Velmora.app/Contents/MacOS/Velmora", "--service"};
  job.working_directory = "/Applications/Velmora.app";
  job.run_at_load = true;
  return job;
}

class JobStore : public testing::Test {
 protected:
  scratch_directory_t directory_;
  const std::string state_ = directory_.path("launchd");
};

TEST_F(JobStore, KeepsJobsWithTheirProcessAcrossOpenings) {
  auto job = sample_job("com.corvantix.velmora.service");
  job.process = process_ref_t{4242, 987654321};
  ASSERT_TRUE(job_store_t::open(state_)->save(job));

  const auto found = job_store_t::open(state_)->find(job.label);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, job);
}

TEST_F(JobStore, ListsJobsByLabelAndForgetsRemovedOnes) {
  const auto store = job_store_t::open(state_);
  ASSERT_TRUE(store);
  for (const char* label : {"com.b", "com.a", "com.c"})
    ASSERT_TRUE(store->save(sample_job(label)));
  std::vector<std::string> labels;
  for (const auto& job : store->all())
    labels.push_back(job.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"com.a", "com.b", "com.c"}));

  EXPECT_TRUE(store->remove("com.b"));
  EXPECT_FALSE(store->find("com.b"));
  EXPECT_FALSE(store->remove("com.b"));
  EXPECT_EQ(store->all().size(), 2u);
}

TEST_F(JobStore, ALabelNeverNamesAFileOutsideTheStore) {
  const auto store = job_store_t::open(state_);
  auto job = sample_job("../escaped");
  EXPECT_FALSE(store->save(job));
  EXPECT_FALSE(store->find("../escaped"));
  EXPECT_FALSE(store->remove("../launchd/.lock"));
  EXPECT_TRUE(store->all().empty());
}

TEST_F(JobStore, RecordsTheLatestLimit) {
  auto store = job_store_t::open(state_);
  EXPECT_FALSE(store->find_limit("maxfiles"));
  ASSERT_TRUE(store->save_limit("maxfiles", {"65536", "1000000"}));
  ASSERT_TRUE(store->save_limit("maxfiles", {"1024", "unlimited"}));
  store.reset();
  EXPECT_EQ(job_store_t::open(state_)->find_limit("maxfiles"), (limit_t{"1024", "unlimited"}));
}

// Two launchctl calls at once must not interleave their read-change-write of the store.
TEST_F(JobStore, OneOpeningAtATime) {
  auto first = job_store_t::open(state_);
  ASSERT_TRUE(first);
  std::atomic<bool> second_opened{false};
  std::thread second([&] {
    const auto store = job_store_t::open(state_);
    second_opened = store.has_value();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(second_opened);
  first.reset();
  second.join();
  EXPECT_TRUE(second_opened);
}

}  // namespace
}  // namespace standin
