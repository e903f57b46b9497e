#include "trace/byte_buffer.h"

#include <cstdlib>
#include <new>
#include <thread>
#include <utility>

#include "trace/exception.h"

namespace {

std::atomic<std::int64_t> buffers_alive{0};

byte_buffer_t* allocate_buffer(std::uint32_t capacity) {
  void* memory = std::malloc(sizeof(byte_buffer_t) + capacity);
  if (memory == nullptr) throw base::out_of_memory_exception_t();
  auto* buffer = ::new (memory) byte_buffer_t{memory, capacity, {1}};
  buffers_alive.fetch_add(1, std::memory_order_relaxed);
  return buffer;
}

void drop_reference(byte_buffer_t* buffer) {
  if (buffer == nullptr) return;
  if (buffer->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  void* base = buffer->base;
  buffer->~byte_buffer_t();
  std::free(base);
  buffers_alive.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

buffer_handle_t::buffer_handle_t(const buffer_handle_t& other) : buffer_(other.take_reference()) {}

buffer_handle_t::buffer_handle_t(buffer_handle_t&& other) noexcept
    : buffer_(other.exchange(nullptr)) {}

buffer_handle_t& buffer_handle_t::operator=(const buffer_handle_t& other) {
  if (this != &other) drop_reference(exchange(other.take_reference()));
  return *this;
}

buffer_handle_t& buffer_handle_t::operator=(buffer_handle_t&& other) noexcept {
  if (this != &other) drop_reference(exchange(other.exchange(nullptr)));
  return *this;
}

buffer_handle_t::~buffer_handle_t() {
  release();
}

buffer_handle_t buffer_handle_t::allocate(std::uint32_t capacity) {
  return buffer_handle_t(allocate_buffer(capacity));
}

void buffer_handle_t::release() {
  drop_reference(exchange(nullptr));
}

byte_buffer_t* buffer_handle_t::take_reference() const {
  lock();
  byte_buffer_t* buffer = buffer_;
  if (buffer != nullptr) buffer->references.fetch_add(1, std::memory_order_relaxed);
  unlock();
  return buffer;
}

byte_buffer_t* buffer_handle_t::exchange(byte_buffer_t* replacement) {
  lock();
  byte_buffer_t* previous = std::exchange(buffer_, replacement);
  unlock();
  return previous;
}

void buffer_handle_t::lock() const {
  while (lock_.test_and_set(std::memory_order_acquire))
    std::this_thread::yield();
}

void buffer_handle_t::unlock() const {
  lock_.clear(std::memory_order_release);
}

std::span<const unsigned char> byte_view_t::bytes() const {
  const byte_buffer_t* buffer = handle.buffer();
  if (buffer == nullptr || offset >= buffer->capacity) return {};
  const std::uint32_t available = buffer->capacity - offset;
  return {buffer->data() + offset, length < available ? length : available};
}

byte_view_t make_view_of_u64(std::uint64_t value) {
  byte_view_t view{0, 8, buffer_handle_t::allocate(8)};
  unsigned char* data = view.handle.buffer()->data();
  for (int i = 0; i < 8; ++i)
    data[i] = static_cast<unsigned char>(value >> (8 * i));
  return view;
}

std::int64_t byte_buffers_alive() {
  return buffers_alive.load(std::memory_order_relaxed);
}
