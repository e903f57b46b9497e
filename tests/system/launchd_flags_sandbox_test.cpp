#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/foundation/property_list.h"
#include "system/external_commands.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/system/replaced_tool.h"
#include "trace/trace.h"

namespace {

namespace property_list = platform::property_list;
using trace_lines_t = std::vector<std::pair<std::string, std::string>>;

const std::string plist = "/Library/LaunchDaemons/com.corvantix.flags.service.plist";
const std::string trace_path = "/var/log/flags-test.trace";

property_list::plist_ptr_t job_dictionary() {
  property_list::plist_ptr_t job(plist_new_dict());
  plist_dict_set_item(job.get(), "Label", plist_new_string("com.corvantix.flags.service"));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments,
                          plist_new_string("/Applications/Velmora.app/Contents/MacOS/V"));
  plist_array_append_item(arguments, plist_new_string("--service"));
  plist_dict_set_item(job.get(), "ProgramArguments", arguments);
  return job;
}

// The flag as written in the file: nothing when the key is absent or not a boolean.
std::optional<bool> written_flag(const char* key) {
  const auto list = property_list::read_file(plist);
  if (!list) return std::nullopt;
  plist_t value = plist_dict_get_item(list.get(), key);
  if (value == nullptr || plist_get_node_type(value) != PLIST_BOOLEAN) return std::nullopt;
  std::uint8_t flag = 0;
  plist_get_bool_val(value, &flag);
  return flag != 0;
}

class LaunchdFlags : public testing::Test {
 protected:
  void SetUp() override {
    ::unlink(plist.c_str());
    ::unlink(trace_path.c_str());
    trace_use_path(string_t(trace_path.c_str()));
  }
  void TearDown() override { trace_use_path(string_t("")); }

  trace_lines_t error_lines() const { return trace_lines_of(trace_path, "helper_tool"); }
};

TEST_F(LaunchdFlags, MissingList) {
  EXPECT_FALSE(ExternalCommands::is_service_disabled(plist));
  EXPECT_FALSE(ExternalCommands::is_service_run_at_load(plist));
  EXPECT_FALSE(ExternalCommands::set_runatload_service(plist, true));
  EXPECT_TRUE(error_lines().empty());
  EXPECT_FALSE(ExternalCommands::set_enable_service(plist, true));
  const auto lines = error_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, "error");
  EXPECT_NE(lines[0].second.find(plist), std::string::npos) << lines[0].second;
  EXPECT_NE(::access(plist.c_str(), F_OK), 0);
}

TEST_F(LaunchdFlags, UnreadableAndNonDictionaryLists) {
  const auto array = property_list::plist_ptr_t(plist_new_array());
  for (const std::string& contents :
       {std::string("not a property list"), property_list::to_xml(array.get())}) {
    ASSERT_TRUE(test_support::write_text(plist, contents));
    ::unlink(trace_path.c_str());
    trace_use_path(string_t(trace_path.c_str()));
    EXPECT_TRUE(ExternalCommands::is_service_disabled(plist));
    EXPECT_FALSE(ExternalCommands::is_service_run_at_load(plist));
    EXPECT_FALSE(ExternalCommands::set_runatload_service(plist, true));
    EXPECT_FALSE(ExternalCommands::set_enable_service(plist, true));
    EXPECT_EQ(test_support::read_text(plist), contents);  // left unchanged

    const auto lines = error_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, "error");
    EXPECT_NE(lines[0].second.find(plist), std::string::npos) << lines[0].second;
  }
}

TEST_F(LaunchdFlags, AbsentKeysReadNoAndAreAdded) {
  ASSERT_TRUE(property_list::write_xml(plist, job_dictionary().get(), false));
  EXPECT_FALSE(ExternalCommands::is_service_disabled(plist));
  EXPECT_FALSE(ExternalCommands::is_service_run_at_load(plist));

  EXPECT_TRUE(ExternalCommands::set_enable_service(plist, true));
  EXPECT_EQ(written_flag("Disabled"), false);  // written, not removed
  EXPECT_FALSE(ExternalCommands::is_service_disabled(plist));
  EXPECT_TRUE(ExternalCommands::set_enable_service(plist, false));
  EXPECT_EQ(written_flag("Disabled"), true);
  EXPECT_TRUE(ExternalCommands::is_service_disabled(plist));

  EXPECT_TRUE(ExternalCommands::set_runatload_service(plist, true));
  EXPECT_EQ(written_flag("RunAtLoad"), true);
  EXPECT_TRUE(ExternalCommands::is_service_run_at_load(plist));
  EXPECT_TRUE(ExternalCommands::set_runatload_service(plist, false));
  EXPECT_FALSE(ExternalCommands::is_service_run_at_load(plist));
  EXPECT_TRUE(error_lines().empty());
}

TEST_F(LaunchdFlags, BinaryListComesBackAsXmlWithItsOtherKeys) {
  for (const bool use_enable : {true, false}) {
    const auto job = job_dictionary();
    plist_dict_set_item(job.get(), "KeepAlive", plist_new_bool(1));
    ASSERT_TRUE(test_support::write_text(plist, property_list::to_binary(job.get())));

    if (use_enable) {
      EXPECT_TRUE(ExternalCommands::set_enable_service(plist, false));
      plist_dict_set_item(job.get(), "Disabled", plist_new_bool(1));
    } else {
      EXPECT_TRUE(ExternalCommands::set_runatload_service(plist, true));
      plist_dict_set_item(job.get(), "RunAtLoad", plist_new_bool(1));
    }
    const auto written = test_support::read_text(plist);
    EXPECT_EQ(written.rfind("<?xml", 0), 0u);
    const auto reread = property_list::read_file(plist);
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(property_list::to_xml(reread.get()), property_list::to_xml(job.get()));
  }
}

TEST_F(LaunchdFlags, ValuesOfOtherKindsReadAsThePlatformReadsThem) {
  const std::vector<std::pair<plist_t, bool>> values = {
      {plist_new_bool(1), true},       {plist_new_uint(0), false},
      {plist_new_uint(2), true},       {plist_new_string("YES"), true},
      {plist_new_string("no"), false}, {plist_new_string(" 007"), true},
      {plist_new_real(0.5), true},     {plist_new_dict(), false},
  };
  for (const auto& [value, expected] : values) {
    const auto job = job_dictionary();
    plist_dict_set_item(job.get(), "Disabled", value);
    plist_dict_set_item(job.get(), "RunAtLoad", plist_copy(value));
    ASSERT_TRUE(property_list::write_xml(plist, job.get(), false));
    EXPECT_EQ(ExternalCommands::is_service_disabled(plist), expected);
    EXPECT_EQ(ExternalCommands::is_service_run_at_load(plist), expected);
  }
}

// A binary list may hold a key twice and reads as the first value; written back as XML the last
// would win, so a rewrite would not say what it reports. Such a list is left as it is.
TEST_F(LaunchdFlags, ListNamingAKeyTwiceIsNotRewritten) {
  const std::string_view objects =
      "bplist00"
      "\xD4\x01\x02\x01\x02\x03\x04\x04\x03"  // Disabled NO, RunAtLoad YES, then both again
      "\x58"
      "Disabled"
      "\x59"
      "RunAtLoad"
      "\x08\x09";
  const std::string_view offsets = "\x08\x11\x1A\x24\x25";
  std::string list(objects);
  list.append(offsets);
  list.append(std::string_view("\0\0\0\0\0\0\x01\x01", 8));
  for (const std::uint64_t field :
       {std::uint64_t{5}, std::uint64_t{0}, std::uint64_t{objects.size()}})
    for (int shift = 56; shift >= 0; shift -= 8)
      list.push_back(static_cast<char>((field >> shift) & 0xFF));
  ASSERT_TRUE(test_support::write_text(plist, list));
  EXPECT_FALSE(ExternalCommands::is_service_disabled(plist));
  EXPECT_TRUE(ExternalCommands::is_service_run_at_load(plist));
  EXPECT_FALSE(ExternalCommands::set_enable_service(plist, false));
  EXPECT_FALSE(ExternalCommands::set_runatload_service(plist, false));
  EXPECT_EQ(test_support::read_text(plist), list);
}

TEST_F(LaunchdFlags, FailedWriteIsNotReportedAsDone) {
  // The source tree is mounted read-only in the throwaway root: the list there cannot be replaced.
  const std::string read_only = VELMORA_TEST_SOURCE_DIR "/read_only_job.plist";
  const auto before = test_support::read_text(read_only);
  ASSERT_FALSE(before.empty());
  EXPECT_FALSE(ExternalCommands::set_enable_service(read_only, false));
  EXPECT_FALSE(ExternalCommands::set_runatload_service(read_only, true));
  EXPECT_EQ(test_support::read_text(read_only), before);
  EXPECT_TRUE(error_lines().empty());
}

}  // namespace
