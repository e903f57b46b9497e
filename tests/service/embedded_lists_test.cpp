#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/bundle.h"

namespace {

const std::string identifier = "com.corvantix.velmora-vl-5e3a07c4.Helper";

std::size_t occurrences(std::string_view text, std::string_view piece) {
  std::size_t count = 0;
  for (auto at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

TEST(EmbeddedLists, SectionsHoldBothListsByteForByte) {
  const auto info = platform::embedded_info_plist();
  const auto launchd = platform::embedded_launchd_plist();
  EXPECT_EQ(info.size(), 957u);
  EXPECT_EQ(launchd.size(), 456u);
  EXPECT_EQ(info.substr(0, 38), R"(<?xml version="1.0" encoding="UTF-8"?>)");
  const std::string padded_end = "</string>" + std::string(18, ' ') + "\n";
  EXPECT_EQ(occurrences(info, identifier + padded_end), 2u);
  EXPECT_EQ(occurrences(launchd, identifier + padded_end), 1u);
  EXPECT_EQ(occurrences(launchd, identifier + "</key>" + std::string(18, ' ') + "\n"), 1u);
  EXPECT_EQ(occurrences(info, "&gt;="), 1u);
}

TEST(EmbeddedLists, MainBundleReadsIdentityAndRequirement) {
  const auto& bundle = platform::bundle_t::mainBundle();
  EXPECT_EQ(bundle.stringForInfoDictionaryKey("CFBundleIdentifier"), identifier);
  EXPECT_EQ(bundle.stringForInfoDictionaryKey("CFBundleName"), identifier);
  EXPECT_EQ(bundle.stringForInfoDictionaryKey("CFBundleInfoDictionaryVersion"), "6.0");
  EXPECT_EQ(bundle.stringForInfoDictionaryKey("CFBundleShortVersionString"), "2.7");
  EXPECT_EQ(bundle.stringForInfoDictionaryKey("CFBundleVersion"), "2.7");
  const auto clients = bundle.stringsForInfoDictionaryKey("SMAuthorizedClients");
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(clients[0],
            "identifier \"com.corvantix.velmora-vl-5e3a07c4\"" + std::string(16, ' ') +
                "and anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
                "/* exists */ and certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ "
                "and certificate leaf[subject.OU] = R4TQ8N2VXH and "
                "info[CFBundleShortVersionString] >= \"6.0.0\"");
}

TEST(EmbeddedLists, LaunchdListNamesTheSameService) {
  const platform::bundle_t launchd(platform::embedded_launchd_plist());
  EXPECT_EQ(launchd.stringForInfoDictionaryKey("Label"), identifier);
  EXPECT_EQ(launchd.stringForInfoDictionaryKey("Bundle Version"), "2.7");
  plist_t services = launchd.objectForInfoDictionaryKey("MachServices");
  ASSERT_NE(services, nullptr);
  ASSERT_EQ(plist_dict_get_size(services), 1u);
  plist_t enabled = plist_dict_get_item(services, identifier.c_str());
  ASSERT_NE(enabled, nullptr);
  std::uint8_t flag = 0;
  plist_get_bool_val(enabled, &flag);
  EXPECT_EQ(flag, 1);
}

TEST(Bundle, UnreadableOrOddInformationListsYieldNothing) {
  const platform::bundle_t garbage("not a property list");
  EXPECT_FALSE(garbage.stringForInfoDictionaryKey("CFBundleVersion"));
  EXPECT_TRUE(garbage.stringsForInfoDictionaryKey("SMAuthorizedClients").empty());

  const platform::bundle_t array_root(
      "<plist version=\"1.0\"><array><string>x</string></array></plist>");
  EXPECT_EQ(array_root.objectForInfoDictionaryKey("CFBundleVersion"), nullptr);

  const platform::bundle_t mixed(
      "<plist version=\"1.0\"><dict><key>SMAuthorizedClients</key><array><string>first</string>"
      "<integer>4</integer><string>last</string></array><key>CFBundleVersion</key><integer>3"
      "</integer></dict></plist>");
  EXPECT_EQ(mixed.stringsForInfoDictionaryKey("SMAuthorizedClients"),
            (std::vector<std::string>{"first", "last"}));
  EXPECT_FALSE(mixed.stringForInfoDictionaryKey("CFBundleVersion"));
}

}  // namespace
