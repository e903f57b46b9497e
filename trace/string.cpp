#include "trace/string.h"

#include <cstring>
#include <limits>
#include <utility>

namespace {

// The length field is 32 bits wide; a longer text is cut rather than wrapped round.
std::uint32_t counted_length(std::size_t length) {
  constexpr std::size_t longest = std::numeric_limits<std::uint32_t>::max() - 1;
  return static_cast<std::uint32_t>(length < longest ? length : longest);
}

char* copy_text(const char* text, std::uint32_t length) {
  char* array = new char[std::size_t{length} + 1];
  if (length != 0) std::memcpy(array, text, length);
  array[length] = '\0';
  return array;
}

}  // namespace

string_t::string_t() : text_(copy_text("", 0)) {}

string_t::string_t(const char* text)
    : string_t(text != nullptr ? std::string_view(text) : std::string_view()) {}

string_t::string_t(std::string_view text)
    : length_(counted_length(text.size())), text_(copy_text(text.data(), length_)) {}

string_t::string_t(const string_t& other)
    : length_(other.length_),
      text_(other.text_ != nullptr ? copy_text(other.text_, other.length_) : nullptr) {}

string_t::string_t(string_t&& other) noexcept
    : length_(std::exchange(other.length_, 0)), text_(std::exchange(other.text_, nullptr)) {}

string_t& string_t::operator=(const string_t& other) {
  if (this != &other) {
    string_t copy(other);
    swap(*this, copy);
  }
  return *this;
}

string_t& string_t::operator=(string_t&& other) noexcept {
  if (this != &other) {
    release();
    swap(*this, other);
  }
  return *this;
}

string_t::~string_t() {
  release();
}

string_t operator+(const string_t& a, const string_t& b) {
  string_t joined;
  const std::uint32_t length = counted_length(std::size_t{a.length_} + b.length_);
  const std::uint32_t from_b = length - a.length_;
  char* array = new char[std::size_t{length} + 1];
  if (a.length_ != 0) std::memcpy(array, a.c_str(), a.length_);
  if (from_b != 0) std::memcpy(array + a.length_, b.c_str(), from_b);
  array[length] = '\0';
  delete[] std::exchange(joined.text_, array);
  joined.length_ = length;
  return joined;
}

void swap(string_t& a, string_t& b) noexcept {
  std::swap(a.length_, b.length_);
  std::swap(a.text_, b.text_);
}

void string_t::release() {
  delete[] std::exchange(text_, nullptr);
  length_ = 0;
}
