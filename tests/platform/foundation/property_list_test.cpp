#include "platform/foundation/property_list.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::mode_of;
using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;

namespace {

namespace property_list = platform::property_list;

property_list::plist_ptr_t sample_dictionary() {
  property_list::plist_ptr_t dictionary(plist_new_dict());
  plist_dict_set_item(dictionary.get(), "Label", plist_new_string("com.corvantix.sample.service"));
  plist_dict_set_item(dictionary.get(), "RunAtLoad", plist_new_bool(1));
  return dictionary;
}

std::string label_of(plist_t dictionary) {
  return platform::property_list::string_entry(dictionary, "Label").value_or("");
}

std::vector<std::string> entries_of(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

TEST(PropertyListParse, ReadsXmlAndBinaryAndRejectsTheRest) {
  const auto original = sample_dictionary();
  const std::string xml = property_list::to_xml(original.get());
  EXPECT_EQ(xml.rfind("<?xml", 0), 0u);

  const std::string binary = property_list::to_binary(original.get());
  EXPECT_EQ(binary.rfind("bplist00", 0), 0u);
  EXPECT_EQ(property_list::to_binary(nullptr), "");
  for (const std::string& bytes : {xml, binary}) {
    const auto parsed = property_list::parse(bytes.data(), bytes.size());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(label_of(parsed.get()), "com.corvantix.sample.service");
  }

  for (const std::string& bad :
       {std::string(), std::string("not a property list"), std::string("bplist00\x01\x02", 10),
        std::string("<?xml version=\"1.0\"?><plist><dict><key>")}) {
    EXPECT_EQ(property_list::parse(bad.data(), bad.size()), nullptr) << bad;
  }
  EXPECT_EQ(property_list::parse(nullptr, 4), nullptr);
}

// Every reader of texts and data in the tree goes through these: a wrong type, a missing key or
// something other than a dictionary reads as nothing, and zero bytes are kept.
TEST(PropertyListValues, ReadEntriesOfTheirOwnTypeOnly) {
  const auto dictionary = sample_dictionary();
  const std::string bytes("a\0b", 3);
  plist_dict_set_item(dictionary.get(), "Data",
                      plist_new_data(bytes.data(), static_cast<std::uint64_t>(bytes.size())));

  EXPECT_EQ(property_list::string_entry(dictionary.get(), "Label"), "com.corvantix.sample.service");
  EXPECT_EQ(property_list::data_entry(dictionary.get(), "Data"), bytes);
  EXPECT_FALSE(property_list::string_entry(dictionary.get(), "Data"));
  EXPECT_FALSE(property_list::data_entry(dictionary.get(), "Label"));
  EXPECT_FALSE(property_list::string_entry(dictionary.get(), "RunAtLoad"));
  EXPECT_FALSE(property_list::string_entry(dictionary.get(), "Missing"));

  const plist_t label = plist_dict_get_item(dictionary.get(), "Label");
  EXPECT_FALSE(property_list::string_entry(label, "Label"));
  EXPECT_FALSE(property_list::data_entry(nullptr, "Data"));
  EXPECT_FALSE(property_list::data_value(label));
  EXPECT_FALSE(property_list::string_value(nullptr));

  // A UTF-16 text "a\0b" in a binary list: read whole, where libplist's copying reader aborts.
  const std::string binary(
      "bplist00\xa1\x01\x63\x00\x61\x00\x00\x00\x62\x08\x0a"
      "\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00"
      "\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x11",
      51);
  const auto array = property_list::parse(std::string_view(binary));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(property_list::string_value(plist_array_get_item(array.get(), 0)), bytes);
}

TEST(PropertyListFiles, AtomicWriteReplacesTheFileAndKeepsItsMode) {
  scratch_directory_t scratch;
  EXPECT_EQ(property_list::read_file(scratch.path("missing.plist")), nullptr);
  EXPECT_EQ(property_list::read_file(scratch.root()), nullptr);  // a directory
  write_text(scratch.path("garbage.plist"), "garbage");
  EXPECT_EQ(property_list::read_file(scratch.path("garbage.plist")), nullptr);
  ::unlink(scratch.path("garbage.plist").c_str());

  const std::string path = scratch.path("job.plist");
  const auto dictionary = sample_dictionary();
  write_text(path, property_list::to_binary(dictionary.get()), 0640);

  ASSERT_TRUE(property_list::write_xml(path, dictionary.get(), true));
  EXPECT_EQ(read_text(path), property_list::to_xml(dictionary.get()));
  EXPECT_EQ(mode_of(path) & 07777, 0640u);
  // Nothing is left beside it.
  EXPECT_EQ(entries_of(scratch.root()), std::vector<std::string>{"job.plist"});

  const auto reread = property_list::read_file(path);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(label_of(reread.get()), "com.corvantix.sample.service");
}

TEST(PropertyListFiles, AtomicWriteReplacesALinkInsteadOfWritingThroughIt) {
  scratch_directory_t scratch;
  const std::string target = scratch.path("target");
  const std::string link = scratch.path("job.plist");
  write_text(target, "untouched");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

  const auto dictionary = sample_dictionary();
  ASSERT_TRUE(property_list::write_xml(link, dictionary.get(), true));
  EXPECT_EQ(read_text(target), "untouched");
  EXPECT_TRUE(S_ISREG(mode_of(link)));
}

TEST(PropertyListFiles, WritesFailWhereNoFileCanBeMade) {
  scratch_directory_t scratch;
  const auto dictionary = sample_dictionary();
  for (const bool atomically : {true, false}) {
    EXPECT_FALSE(
        property_list::write_xml(scratch.path("missing/job.plist"), dictionary.get(), atomically));
  }
  EXPECT_FALSE(property_list::write_xml(scratch.path("job.plist"), nullptr, true));
  EXPECT_TRUE(entries_of(scratch.root()).empty());
}

}  // namespace
