#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/xpc/listener.h"
#include "tests/support/scratch_directory.h"
#include "trace/trace.h"

// An exported object for the transport tests: "echo:" (string) answers its argument,
// "add:to:" (integer, integer) the sum, "hold:" (string) waits until released and answers it.
class test_object_t : public platform::xpc_exported_object_t {
 public:
  platform::xpc_dispatch_t dispatch(std::string_view selector,
                                    const platform::xpc_arguments_t& arguments,
                                    platform::xpc_reply_t reply) override;
  void release_holds();

 private:
  std::mutex lock_;
  std::condition_variable released_;
  bool holds_released_ = false;
};

// A listener on a socket in a fresh temporary directory, with a delegate that counts what it
// accepts and the invalidations of what it accepted; its trace goes to a file beside it.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  platform::unique_fd_t raw_connect() const;
  // Reads the acceptance frame; false when the listener closed the connection instead.
  static bool read_acceptance(int fd);
  static void send_bytes(int fd, const std::vector<std::uint8_t>& bytes);
  // True when the other side closes within the time given.
  static bool closed_within(int fd, std::chrono::milliseconds limit);
  bool wait_invalidations(int count, std::chrono::milliseconds limit);
  int warning_lines() const;

  test_support::scratch_directory_t directory_;
  std::string socket_path_;
  std::string trace_path_;
  trace_t trace_{"transport_test"};
  std::shared_ptr<test_object_t> object_ = std::make_shared<test_object_t>();
  std::unique_ptr<platform::xpc_listener_t> listener_;

  bool accept_clients_ = true;
  std::function<void()> before_decision_;  // runs on the listener queue before each decision
  std::mutex lock_;
  std::condition_variable changed_;
  int accepted_ = 0;
  int invalidated_ = 0;
  std::vector<platform::xpc_peer_t> peers_;
};
