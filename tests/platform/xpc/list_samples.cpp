#include "tests/platform/xpc/list_samples.h"

#include <algorithm>
#include <stdexcept>

#include "platform/foundation/property_list.h"

namespace list_samples {
namespace {

void append_big_endian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

std::vector<std::uint8_t> arrays(const std::vector<std::vector<std::uint32_t>>& children) {
  std::vector<std::uint8_t> bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint64_t> offsets;
  for (const auto& refs : children) {
    offsets.push_back(bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(0xa0 | refs.size()));
    for (const std::uint32_t ref : refs)
      append_big_endian(bytes, ref, 4);
  }
  const std::uint64_t table = bytes.size();
  for (const std::uint64_t offset : offsets)
    append_big_endian(bytes, offset, 4);
  bytes.insert(bytes.end(), {0, 0, 0, 0, 0, 0, 4, 4});
  append_big_endian(bytes, children.size(), 8);
  append_big_endian(bytes, 0, 8);
  append_big_endian(bytes, table, 8);
  return bytes;
}

std::vector<std::uint8_t> nested_arrays(std::uint32_t depth) {
  std::vector<std::vector<std::uint32_t>> children(depth);
  for (std::uint32_t i = 0; i + 1 < depth; ++i)
    children[i] = {i + 1};
  return arrays(children);
}

std::vector<std::uint8_t> encoded(plist_t message) {
  const std::string bytes = platform::property_list::to_binary(message);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> encoded_with_nul_for(plist_t message, const std::string& mark) {
  std::vector<std::uint8_t> bytes = encoded(message);
  const auto at = std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end());
  if (at == bytes.end()) throw std::invalid_argument("mark not in the encoding: " + mark);
  std::fill(at, at + static_cast<std::ptrdiff_t>(mark.size()), 0);
  return bytes;
}

std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> frame;
  append_big_endian(frame, body.size(), 4);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

}  // namespace list_samples
