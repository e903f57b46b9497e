#include "platform/xpc/wire.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <limits>
#include <thread>

#include "platform/xpc/arguments.h"
#include "platform/xpc/peer.h"
#include "tests/platform/xpc/list_samples.h"

namespace {

using platform::property_list::plist_ptr_t;
using platform::xpc_wire::read_status_t;

struct socket_pair_t {
  socket_pair_t() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    reader.reset(fds[0]);
    writer.reset(fds[1]);
  }
  platform::unique_fd_t reader;
  platform::unique_fd_t writer;
};

platform::xpc_wire::frame_t read_one(int fd, const platform::xpc_wire::read_options_t& options) {
  return platform::xpc_wire::frame_reader_t(fd, options).read();
}

// The writer runs on its own thread: a whole large frame does not fit in the socket buffer.
read_status_t read_after_writing(const std::vector<std::uint8_t>& bytes) {
  socket_pair_t pair;
  std::thread writer([&] {
    [[maybe_unused]] const auto n =
        ::send(pair.writer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    pair.writer.reset();
  });
  const auto frame = read_one(pair.reader.get(), {});
  pair.reader.reset();
  writer.join();
  return frame.status;
}

std::vector<std::uint8_t> frame_of_length(std::uint32_t length) {
  std::vector<std::uint8_t> bytes(4 + std::min<std::uint32_t>(length, 1024 * 1024 + 1), 0);
  bytes[0] = static_cast<std::uint8_t>(length >> 24);
  bytes[1] = static_cast<std::uint8_t>(length >> 16);
  bytes[2] = static_cast<std::uint8_t>(length >> 8);
  bytes[3] = static_cast<std::uint8_t>(length);
  return bytes;
}

TEST(WireFormat, FrameLengthLimitIsOneMebibyteInclusive) {
  const std::uint32_t limit = platform::xpc_wire::max_frame_length;
  EXPECT_EQ(read_after_writing(frame_of_length(limit)), read_status_t::undecodable)
      << "a body of exactly the limit is read in full (here: not a property list)";
  EXPECT_EQ(read_after_writing(frame_of_length(limit + 1)), read_status_t::too_long);
  EXPECT_EQ(read_after_writing(frame_of_length(0xffffffffu)), read_status_t::too_long);
}

TEST(WireFormat, StreamEndIsClosedBetweenFramesAndTruncatedInsideOne) {
  EXPECT_EQ(read_after_writing({}), read_status_t::closed);
  EXPECT_EQ(read_after_writing({0, 0}), read_status_t::truncated);
  EXPECT_EQ(read_after_writing({0, 0, 0, 9, 'b', 'p'}), read_status_t::truncated);
}

// libplist would recurse 100,000 times, or read "a\0;rm" as "a": neither reaches it.
TEST(WireFormat, DeepListsAndTextsWithANulAreRefusedBeforeParsing) {
  EXPECT_EQ(read_after_writing(list_samples::framed(list_samples::nested_arrays(100000))),
            read_status_t::too_deep);

  const plist_ptr_t request(plist_new_dict());
  plist_t args = plist_new_array();
  plist_array_append_item(args, plist_new_string("a#;rm"));
  plist_dict_set_item(request.get(), "seq", plist_new_uint(1));
  plist_dict_set_item(request.get(), "op", plist_new_string("quit_service:with_reply:"));
  plist_dict_set_item(request.get(), "args", args);
  EXPECT_EQ(read_after_writing(
                list_samples::framed(list_samples::encoded_with_nul_for(request.get(), "#"))),
            read_status_t::text_with_nul);
}

TEST(WireFormat, MessageRoundTripsWithEveryValueType) {
  const plist_ptr_t message(plist_new_dict());
  plist_dict_set_item(message.get(), "text", platform::xpc_value(std::string("héllo")).release());
  plist_dict_set_item(message.get(), "flag", platform::xpc_value(true).release());
  plist_dict_set_item(message.get(), "low", platform::xpc_value(std::int32_t{-1}).release());
  plist_dict_set_item(message.get(), "high",
                      platform::xpc_value(std::numeric_limits<std::int32_t>::max()).release());
  plist_dict_set_item(message.get(), "data",
                      platform::xpc_value(std::vector<std::uint8_t>{0, 1, 255}).release());
  socket_pair_t pair;
  ASSERT_TRUE(platform::xpc_wire::write_frame(pair.writer.get(), message.get()));
  const auto frame = read_one(pair.reader.get(), {});
  ASSERT_EQ(frame.status, read_status_t::ok);
  plist_t got = frame.message.get();
  EXPECT_EQ(platform::xpc_string(plist_dict_get_item(got, "text")), "héllo");
  EXPECT_EQ(platform::xpc_boolean(plist_dict_get_item(got, "flag")), true);
  EXPECT_EQ(platform::xpc_integer(plist_dict_get_item(got, "low")), -1);
  EXPECT_EQ(platform::xpc_integer(plist_dict_get_item(got, "high")),
            std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(platform::xpc_data(plist_dict_get_item(got, "data")),
            (std::vector<std::uint8_t>{0, 1, 255}));
}

TEST(WireFormat, SenderCheckAcceptsOnlyTheExpectedProcess) {
  socket_pair_t pair;
  ASSERT_TRUE(platform::pass_credentials(pair.reader.get()));
  const plist_ptr_t message(plist_new_dict());
  platform::xpc_wire::read_options_t options;

  options.sender_pid = ::getpid();
  ASSERT_TRUE(platform::xpc_wire::write_frame(pair.writer.get(), message.get()));
  EXPECT_EQ(read_one(pair.reader.get(), options).status, read_status_t::ok);

  options.sender_pid = ::getpid() + 1;
  ASSERT_TRUE(platform::xpc_wire::write_frame(pair.writer.get(), message.get()));
  EXPECT_EQ(read_one(pair.reader.get(), options).status, read_status_t::foreign_sender);
}

// The pidfd recorded for the peer decides, not the pid: a child that this process waits for
// (so its pid cannot be reused meanwhile) is another process even while it runs.
TEST(WireFormat, SenderPidfdMustNameTheRecordedProcess) {
  socket_pair_t pair;
  ASSERT_TRUE(platform::pass_credentials(pair.reader.get()));
  const plist_ptr_t message(plist_new_dict());
  const auto own = platform::socket_peer_of(pair.writer.get());
  ASSERT_TRUE(own && own->pidfd) << "the kernel gives no peer pidfd";
  platform::xpc_wire::read_options_t options;
  options.sender_pidfd = own->pidfd.get();
  ASSERT_TRUE(platform::xpc_wire::write_frame(pair.writer.get(), message.get()));
  EXPECT_EQ(read_one(pair.reader.get(), options).status, read_status_t::ok);

  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  platform::unique_fd_t hold_read(ends[0]), hold_write(ends[1]);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char byte = 0;
    ::close(ends[1]);
    ::_exit(::read(ends[0], &byte, 1) == 0 ? 0 : 1);
  }
  const platform::unique_fd_t child_pidfd(platform::open_pidfd(child));
  ASSERT_TRUE(child_pidfd);
  options.sender_pidfd = child_pidfd.get();
  ASSERT_TRUE(platform::xpc_wire::write_frame(pair.writer.get(), message.get()));
  EXPECT_EQ(read_one(pair.reader.get(), options).status, read_status_t::foreign_sender);
  hold_write.reset();
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);

  socket_pair_t without_pidfds;  // the reader never asked for them
  options.sender_pidfd = own->pidfd.get();
  ASSERT_TRUE(platform::xpc_wire::write_frame(without_pidfds.writer.get(), message.get()));
  EXPECT_EQ(read_one(without_pidfds.reader.get(), options).status, read_status_t::foreign_sender);
}

// A sender may write several frames at once, or a frame in pieces: each read returns the next
// whole frame, and nothing read ahead is lost.
TEST(WireFormat, FramesAreReadWholeAndInOrderHoweverTheyArrive) {
  socket_pair_t pair;
  std::vector<std::uint8_t> stream;
  for (const char* text : {"one", "two", "three"}) {
    const plist_ptr_t message(plist_new_string(text));
    const auto frame = platform::xpc_wire::encode(message.get());
    ASSERT_TRUE(frame);
    stream.insert(stream.end(), frame->begin(), frame->end());
  }
  ASSERT_EQ(::send(pair.writer.get(), stream.data(), stream.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(stream.size()));
  platform::xpc_wire::frame_reader_t reader(pair.reader.get(), {});
  for (const char* text : {"one", "two"})
    EXPECT_EQ(platform::xpc_string(reader.read().message.get()), text);

  // The third frame is already here; the fourth comes as header, then two parts of its body.
  const plist_ptr_t last(plist_new_string(std::string(40000, 'z').c_str()));
  const auto pieces = platform::xpc_wire::encode(last.get());
  ASSERT_TRUE(pieces);
  std::thread writer([&] {
    for (const auto& [from, to] :
         {std::pair<std::size_t, std::size_t>{0, 4}, {4, 20000}, {20000, pieces->size()}}) {
      [[maybe_unused]] const auto n =
          ::send(pair.writer.get(), pieces->data() + from, to - from, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pair.writer.reset();
  });
  EXPECT_EQ(platform::xpc_string(reader.read().message.get()), "three");
  EXPECT_EQ(platform::xpc_string(reader.read().message.get()), std::string(40000, 'z'));
  EXPECT_EQ(reader.read().status, read_status_t::closed);
  writer.join();
}

TEST(WireFormat, OversizedMessageIsNotEncoded) {
  const std::string big(platform::xpc_wire::max_frame_length, 'x');
  const plist_ptr_t message(plist_new_string(big.c_str()));
  EXPECT_FALSE(platform::xpc_wire::encode(message.get()));
}

TEST(Arguments, IntegersOutside32BitsAndOtherTypesAreRefused) {
  const plist_ptr_t big(plist_new_uint(std::uint64_t{1} << 31));
  const plist_ptr_t negative_big(
      plist_new_uint(static_cast<std::uint64_t>(-(std::int64_t{1} << 31) - 1)));
  const plist_ptr_t lowest(plist_new_uint(static_cast<std::uint64_t>(-(std::int64_t{1} << 31))));
  EXPECT_FALSE(platform::xpc_integer(big.get()));
  EXPECT_FALSE(platform::xpc_integer(negative_big.get()));
  EXPECT_EQ(platform::xpc_integer(lowest.get()), std::numeric_limits<std::int32_t>::min());
  const plist_ptr_t text(plist_new_string("1"));
  EXPECT_FALSE(platform::xpc_integer(text.get()));
  EXPECT_FALSE(platform::xpc_boolean(text.get()));
  EXPECT_FALSE(platform::xpc_data(text.get()));
  EXPECT_FALSE(platform::xpc_string(nullptr));
}

TEST(Arguments, ConformanceChecksCountAndEveryType) {
  using enum platform::xpc_type_t;
  const plist_ptr_t array(plist_new_array());
  plist_array_append_item(array.get(), plist_new_data("\x01", 1));
  plist_array_append_item(array.get(), plist_new_string("ns"));
  plist_array_append_item(array.get(), plist_new_bool(0));
  const platform::xpc_arguments_t arguments(array.get());
  constexpr std::array exact{data, string, boolean};
  constexpr std::array swapped{data, boolean, string};
  constexpr std::array shorter{data, string};
  constexpr std::array longer{data, string, boolean, integer};
  EXPECT_TRUE(arguments.conform_to(exact));
  EXPECT_FALSE(arguments.conform_to(swapped));
  EXPECT_FALSE(arguments.conform_to(shorter));
  EXPECT_FALSE(arguments.conform_to(longer));
  EXPECT_EQ(arguments.data_at(0), std::vector<std::uint8_t>{1});
  EXPECT_EQ(arguments.string_at(1), "ns");

  const plist_ptr_t not_an_array(plist_new_dict());
  constexpr std::array<platform::xpc_type_t, 0> none{};
  EXPECT_FALSE(platform::xpc_arguments_t(not_an_array.get()).conform_to(none));
}

}  // namespace

// A binary list may hold a UTF-16 text with a zero character, which libplist's text reader
// asserts against (the process aborts):
// such an argument is refused like one of the wrong type, and never reaches that reader.
TEST(Arguments, TextWithAZeroByteIsRefused) {
  // An array (object 0) of one UTF-16 text (object 1) "a\0b", offset table at 17.
  const std::array<std::uint8_t, 51> bytes{
      'b',  'p',  'l', 'i', 's', 't', '0', '0', 0xa1, 0x01, 0x63, 0, 'a', 0, 0, 0, 'b',
      0x08, 0x0a, 0,   0,   0,   0,   0,   0,   1,    1,    0,    0, 0,   0, 0, 0, 0,
      2,    0,    0,   0,   0,   0,   0,   0,   0,    0,    0,    0, 0,   0, 0, 0, 17};
  plist_t node = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(bytes.data()), bytes.size(), &node);
  const plist_ptr_t array(node);
  ASSERT_EQ(plist_get_node_type(array.get()), PLIST_ARRAY);
  const plist_t text = plist_array_get_item(array.get(), 0);
  ASSERT_EQ(plist_get_node_type(text), PLIST_STRING);
  EXPECT_FALSE(platform::xpc_string(text));
  constexpr std::array one_text{platform::xpc_type_t::string};
  EXPECT_FALSE(platform::xpc_arguments_t(array.get()).conform_to(one_text));
}
