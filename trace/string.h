#pragma once

#include <cstdint>
#include <string_view>

// The counted string: a length and an owned, zero-terminated heap array. Copies are deep.
// A released string has no array and reads as the empty text.
class string_t {
 public:
  string_t();                  // the empty string: length 0, an array holding the zero
  string_t(const char* text);  // NOLINT(google-explicit-constructor): made from any C text
  explicit string_t(std::string_view text);
  string_t(const string_t& other);
  string_t(string_t&& other) noexcept;
  string_t& operator=(const string_t& other);
  string_t& operator=(string_t&& other) noexcept;
  ~string_t();

  std::uint32_t length() const { return length_; }
  const char* c_str() const { return text_ != nullptr ? text_ : ""; }
  bool has_array() const { return text_ != nullptr; }
  std::string_view view() const { return {c_str(), length_}; }

  friend string_t operator+(const string_t& a, const string_t& b);
  friend void swap(string_t& a, string_t& b) noexcept;
  void release();

 private:
  std::uint32_t length_ = 0;
  char* text_ = nullptr;
};
