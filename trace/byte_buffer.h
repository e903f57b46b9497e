#pragma once

#include <atomic>
#include <cstdint>
#include <span>

// A reference-counted block of bytes: one allocation holding this header and the data after it.
struct byte_buffer_t {
  void* base;
  std::uint32_t capacity;
  std::atomic<std::int32_t> references;

  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this + 1); }
};
static_assert(sizeof(byte_buffer_t) == 16);

// Holds one reference to a buffer (or none). Copies take their own reference; the pointer is
// read under the source's lock, so a handle may be copied while another thread reassigns it.
class buffer_handle_t {
 public:
  buffer_handle_t() = default;
  buffer_handle_t(const buffer_handle_t& other);
  buffer_handle_t(buffer_handle_t&& other) noexcept;
  buffer_handle_t& operator=(const buffer_handle_t& other);
  buffer_handle_t& operator=(buffer_handle_t&& other) noexcept;
  ~buffer_handle_t();

  // A new buffer of the given capacity, held by the returned handle alone. Throws
  // base::out_of_memory_exception_t when the memory cannot be obtained.
  static buffer_handle_t allocate(std::uint32_t capacity);

  byte_buffer_t* buffer() const { return buffer_; }
  void release();

 private:
  explicit buffer_handle_t(byte_buffer_t* adopted) : buffer_(adopted) {}
  byte_buffer_t* take_reference() const;
  byte_buffer_t* exchange(byte_buffer_t* replacement);
  void lock() const;
  void unlock() const;

  byte_buffer_t* buffer_ = nullptr;
  mutable std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
};

// The bytes data[offset] .. data[offset + length - 1] of a buffer.
struct byte_view_t {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  buffer_handle_t handle;

  // The viewed bytes, cut to what the buffer holds; empty without a buffer.
  std::span<const unsigned char> bytes() const;
};

// A view of the eight bytes of value, least significant first, holding the only reference.
byte_view_t make_view_of_u64(std::uint64_t value);

// How many buffers are allocated and not yet freed in this process.
std::int64_t byte_buffers_alive();
