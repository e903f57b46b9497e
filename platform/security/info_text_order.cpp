#include "platform/security/info_text_order.h"

namespace platform {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Takes the run of digits at the front of text, without its leading zeros.
std::string_view take_number(std::string_view& text) {
  std::size_t end = 0;
  while (end < text.size() && is_digit(text[end]))
    ++end;
  std::string_view number = text.substr(0, end);
  text.remove_prefix(end);
  const std::size_t first_significant = number.find_first_not_of('0');
  return first_significant == std::string_view::npos ? std::string_view()
                                                     : number.substr(first_significant);
}

std::strong_ordering compare_numbers(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return left.size() <=> right.size();
  return left.compare(right) <=> 0;
}

std::strong_ordering compare_components(std::string_view left, std::string_view right) {
  while (!left.empty() && !right.empty()) {
    if (is_digit(left.front()) && is_digit(right.front())) {
      const auto order = compare_numbers(take_number(left), take_number(right));
      if (order != 0) return order;
      continue;
    }
    const auto order =
        static_cast<unsigned char>(left.front()) <=> static_cast<unsigned char>(right.front());
    if (order != 0) return order;
    left.remove_prefix(1);
    right.remove_prefix(1);
  }
  return left.size() <=> right.size();
}

// Takes the component before the next dot; "0" once the text is used up.
std::string_view take_component(std::string_view& text, bool& exhausted) {
  if (exhausted) return "0";
  const std::size_t dot = text.find('.');
  const std::string_view component = text.substr(0, dot);
  if (dot == std::string_view::npos) {
    exhausted = true;
  } else {
    text.remove_prefix(dot + 1);
  }
  return component;
}

}  // namespace

std::strong_ordering compare_info_texts(std::string_view left, std::string_view right) {
  bool left_done = false;
  bool right_done = false;
  while (!left_done || !right_done) {
    const auto order =
        compare_components(take_component(left, left_done), take_component(right, right_done));
    if (order != 0) return order;
  }
  return std::strong_ordering::equal;
}

}  // namespace platform
