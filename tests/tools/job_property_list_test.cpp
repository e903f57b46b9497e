#include "tools/launchctl/job_property_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/scratch_directory.h"
#include "tests/tools/job_list_writer.h"

using test_support::scratch_directory_t;

namespace standin {
namespace {

class JobPropertyList : public testing::Test {
 protected:
  std::variant<job_t, job_list_error_t> read(const job_list_t& list, bool binary = false) {
    EXPECT_TRUE(write_job_list(path_, list, binary));
    return read_job_property_list(path_);
  }
  std::string error_of(const job_list_t& list) {
    const auto result = read(list);
    const auto* error = std::get_if<job_list_error_t>(&result);
    return error != nullptr ? error->message : "(read as a job)";
  }

  scratch_directory_t directory_;
  const std::string path_ = directory_.path("job.plist");
};

TEST_F(JobPropertyList, ReadsEveryKeyOfTheJob) {
  job_list_t list;
  list.run_at_load = true;
  list.extra_keys_xml =
      "<key>WorkingDirectory</key><string>/Applications/Velmora.app</string>"
      "<key>StandardOutPath</key><string>/var/log/out</string>"
      "<key>KeepAlive</key><false/><key>LaunchOnlyOnce</key><true/>";
  const auto result = read(list);
  ASSERT_TRUE(std::holds_alternative<job_t>(result));
  const auto& job = std::get<job_t>(result);
  EXPECT_EQ(job.label, "com.corvantix.test.service");
  EXPECT_EQ(job.path, path_);
  EXPECT_EQ(job.program_arguments, (std::vector<std::string>{"/bin/sleep", "300"}));
  EXPECT_EQ(job.working_directory, "/Applications/Velmora.app");
  EXPECT_EQ(job.standard_out_path, "/var/log/out");
  EXPECT_TRUE(job.run_at_load);
  EXPECT_FALSE(job.disabled);
  EXPECT_FALSE(job.process);
}

TEST_F(JobPropertyList, BinaryAndXmlListsReadAlike) {
  job_list_t list;
  list.disabled = true;
  const auto from_xml = read(list);
  const auto from_binary = read(list, true);
  ASSERT_TRUE(std::holds_alternative<job_t>(from_binary));
  EXPECT_EQ(std::get<job_t>(from_binary), std::get<job_t>(from_xml));
  EXPECT_TRUE(std::get<job_t>(from_binary).disabled);
}

TEST_F(JobPropertyList, UnusableListsSayWhy) {
  EXPECT_EQ(std::get<job_list_error_t>(read_job_property_list(directory_.path("missing"))).message,
            "No such file or directory");
  directory_.add_file("job.plist", "not a property list");
  EXPECT_EQ(std::get<job_list_error_t>(read_job_property_list(path_)).message,
            "Invalid property list");
  directory_.add_file("job.plist");
  EXPECT_EQ(std::get<job_list_error_t>(read_job_property_list(path_)).message,
            "Invalid property list");

  job_list_t no_program;
  no_program.program_arguments_xml.clear();
  EXPECT_EQ(error_of(no_program), "Neither Program nor ProgramArguments");
  for (const char* label : {"", "../../etc/passwd", "a/b", ".hidden"}) {
    job_list_t list;
    list.label = label;
    EXPECT_EQ(error_of(list), "Invalid or missing Label") << label;
  }
}

TEST_F(JobPropertyList, ATopLevelArrayIsNoJob) {
  std::ofstream(path_) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                          "<string>x</string></array></plist>";
  EXPECT_TRUE(std::holds_alternative<job_list_error_t>(read_job_property_list(path_)));
}

}  // namespace
}  // namespace standin
