#include "platform/xpc/binary_list_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/xpc/arguments.h"
#include "tests/platform/xpc/list_samples.h"

namespace {

using list_samples::arrays;
using list_samples::encoded;
using list_samples::nested_arrays;
using platform::binary_list::check;
using platform::binary_list::max_depth;
using platform::binary_list::verdict_t;
using platform::property_list::plist_ptr_t;

TEST(BinaryListCheck, RequestsAsTheClientWritesThemPass) {
  const plist_ptr_t request(plist_new_dict());
  plist_t args = plist_new_array();
  plist_array_append_item(args, platform::xpc_value(std::string("héllo ns")).release());
  plist_array_append_item(args, platform::xpc_value(std::vector<std::uint8_t>(32, 0)).release());
  plist_array_append_item(args, platform::xpc_value(std::int32_t{-1}).release());
  plist_dict_set_item(request.get(), "seq", plist_new_uint(7));
  plist_dict_set_item(request.get(), "op", plist_new_string("quit_service:with_reply:"));
  plist_dict_set_item(request.get(), "args", args);
  EXPECT_EQ(check(encoded(request.get())), verdict_t::ok);
  const plist_ptr_t text(plist_new_string("alone"));
  EXPECT_EQ(check(encoded(text.get())), verdict_t::ok);
}

TEST(BinaryListCheck, NestingIsLimitedWithoutRecursion) {
  EXPECT_EQ(check(nested_arrays(max_depth)), verdict_t::ok);
  EXPECT_EQ(check(nested_arrays(max_depth + 1)), verdict_t::too_deep);
  const std::vector<std::uint8_t> deepest = nested_arrays(100000);
  EXPECT_LT(deepest.size(), 1024u * 1024u) << "fits in one frame";
  EXPECT_EQ(check(deepest), verdict_t::too_deep);
}

TEST(BinaryListCheck, SharedObjectsCountAtEveryReference) {
  // Object i refers twice to object i + 1: 2^40 arrays once expanded, 41 levels deep.
  std::vector<std::vector<std::uint32_t>> doubling(41);
  for (std::uint32_t i = 0; i + 1 < doubling.size(); ++i)
    doubling[i] = {i + 1, i + 1};
  EXPECT_EQ(check(arrays(doubling)), verdict_t::too_expanded);

  // An array met first beside the root and finished there is met again at the bottom of a
  // chain, where it is one level too deep.
  const std::uint32_t shared = max_depth;
  std::vector<std::vector<std::uint32_t>> children(max_depth + 1);
  children[0] = {shared, 1};
  for (std::uint32_t i = 1; i + 1 < max_depth; ++i)
    children[i] = {i + 1};
  children[max_depth - 1] = {shared};
  EXPECT_EQ(check(arrays(children)), verdict_t::too_deep);
  children[max_depth - 1] = {};
  EXPECT_EQ(check(arrays(children)), verdict_t::ok);
}

TEST(BinaryListCheck, CyclesAndDamagedLayoutsAreMalformed) {
  EXPECT_EQ(check(arrays({{0}})), verdict_t::malformed);
  EXPECT_EQ(check(arrays({{1}, {0}})), verdict_t::malformed);
  EXPECT_EQ(check(arrays({{5}})), verdict_t::malformed) << "a reference past the last object";
  std::vector<std::uint8_t> bytes = nested_arrays(3);
  EXPECT_EQ(check(std::span(bytes).first(bytes.size() - 1)), verdict_t::malformed);
  EXPECT_EQ(check({}), verdict_t::malformed);
  bytes[bytes.size() - 25] = 0xff;  // an offset table beyond the end
  EXPECT_EQ(check(bytes), verdict_t::malformed);
}

TEST(BinaryListCheck, StringsAndKeysWithANulAreRefused) {
  const plist_ptr_t ascii(plist_new_array());
  plist_array_append_item(ascii.get(), plist_new_string("a#;rm"));
  EXPECT_EQ(check(list_samples::encoded_with_nul_for(ascii.get(), "#")), verdict_t::text_with_nul);

  // Non-ASCII text is written as UTF-16: "é#" becomes 00 e9 00 23.
  const plist_ptr_t wide(plist_new_string("é#x"));
  EXPECT_EQ(check(list_samples::encoded_with_nul_for(wide.get(), std::string("\0#", 2))),
            verdict_t::text_with_nul);

  const plist_ptr_t keyed(plist_new_dict());
  plist_dict_set_item(keyed.get(), "o#p", plist_new_bool(1));
  EXPECT_EQ(check(list_samples::encoded_with_nul_for(keyed.get(), "#")), verdict_t::text_with_nul);

  const plist_ptr_t data(plist_new_data("a#b", 3));
  EXPECT_EQ(check(list_samples::encoded_with_nul_for(data.get(), "#")), verdict_t::ok)
      << "data may hold any byte";
}

}  // namespace
