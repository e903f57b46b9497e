#include "platform/xpc/binary_list_check.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace platform::binary_list {
namespace {

constexpr std::size_t header_length = 8;
constexpr std::size_t trailer_length = 32;

enum marker_t : std::uint8_t {
  ascii_string = 0x5,
  utf16_string = 0x6,
  utf8_string = 0x7,
  array = 0xa,
  set = 0xc,
  dictionary = 0xd,
};

std::uint64_t big_endian(const std::uint8_t* at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | at[i];
  return value;
}

// The trailer's description of the list. Objects lie between the header and the offset table.
struct layout_t {
  std::span<const std::uint8_t> bytes;
  std::size_t offset_size = 0;
  std::size_t ref_size = 0;
  std::uint64_t object_count = 0;
  std::uint64_t root = 0;
  std::size_t table_offset = 0;
};

std::optional<layout_t> read_layout(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < header_length + trailer_length ||
      std::memcmp(bytes.data(), "bplist00", header_length) != 0) {
    return std::nullopt;
  }
  const std::uint8_t* trailer = bytes.data() + bytes.size() - trailer_length;
  layout_t layout{
      bytes, trailer[6], trailer[7], big_endian(trailer + 8, 8), big_endian(trailer + 16, 8), 0};
  const std::uint64_t table_offset = big_endian(trailer + 24, 8);
  const std::size_t table_end = bytes.size() - trailer_length;
  if (layout.offset_size < 1 || layout.offset_size > 8 || layout.ref_size < 1 ||
      layout.ref_size > 8 || layout.object_count == 0 || layout.root >= layout.object_count ||
      table_offset < header_length || table_offset > table_end ||
      layout.object_count > (table_end - table_offset) / layout.offset_size) {
    return std::nullopt;
  }
  layout.table_offset = static_cast<std::size_t>(table_offset);
  return layout;
}

// One object's marker, its count (the low nibble, or the integer after it when that is 15) and
// where its contents begin.
struct object_t {
  std::uint8_t type = 0;
  std::uint64_t count = 0;
  std::size_t contents = 0;
};

std::optional<object_t> read_object(const layout_t& layout, std::uint64_t index) {
  const std::uint8_t* entry = layout.bytes.data() + layout.table_offset +
                              static_cast<std::size_t>(index) * layout.offset_size;
  const std::uint64_t offset = big_endian(entry, layout.offset_size);
  if (offset < header_length || offset >= layout.table_offset) return std::nullopt;
  std::size_t at = static_cast<std::size_t>(offset);
  const std::uint8_t marker = layout.bytes[at++];
  object_t object{static_cast<std::uint8_t>(marker >> 4), marker & 0xfu, at};
  if (object.count != 0xf) return object;
  if (at >= layout.table_offset || (layout.bytes[at] >> 4) != 0x1) return std::nullopt;
  const std::size_t width = std::size_t{1} << (layout.bytes[at] & 0xfu);
  if (width > 8 || layout.table_offset - at - 1 < width) return std::nullopt;
  object.count = big_endian(layout.bytes.data() + at + 1, width);
  object.contents = at + 1 + width;
  return object;
}

bool fits(const layout_t& layout, const object_t& object, std::size_t unit, std::uint64_t count) {
  return count <= (layout.table_offset - object.contents) / unit;
}

verdict_t check_string(const layout_t& layout, const object_t& object) {
  const std::size_t unit = object.type == utf16_string ? 2 : 1;
  if (!fits(layout, object, unit, object.count)) return verdict_t::malformed;
  const std::uint8_t* first = layout.bytes.data() + object.contents;
  for (std::size_t i = 0; i < object.count; ++i) {
    const std::uint8_t* character = first + i * unit;
    if (std::all_of(character, character + unit, [](std::uint8_t b) { return b == 0; })) {
      return verdict_t::text_with_nul;
    }
  }
  return verdict_t::ok;
}

// A container whose references are being followed, depth first.
struct open_container_t {
  std::uint64_t index = 0;
  std::size_t refs = 0;  // where its references begin
  std::uint64_t ref_count = 0;
  std::uint64_t next = 0;
  std::size_t height = 1;  // levels from this container down, itself included
  std::uint64_t expanded = 1;
};

class walk_t {
 public:
  explicit walk_t(const layout_t& layout)
      : layout_(layout),
        state_(layout.object_count, state_t::unseen),
        height_(layout.object_count, 0),
        expanded_(layout.object_count, 0) {}

  verdict_t run() {
    verdict_t verdict = visit(layout_.root);
    while (verdict == verdict_t::ok && !open_.empty()) {
      open_container_t& top = open_.back();
      if (top.next == top.ref_count) {
        verdict = close_top();
        continue;
      }
      const std::uint64_t child = big_endian(
          layout_.bytes.data() + top.refs + static_cast<std::size_t>(top.next) * layout_.ref_size,
          layout_.ref_size);
      ++top.next;
      if (child >= layout_.object_count || state_[child] == state_t::open) {
        return verdict_t::malformed;
      }
      if (state_[child] == state_t::unseen) {
        if (open_.size() + 1 > max_depth) return verdict_t::too_deep;
        verdict = visit(child);
      }
      if (verdict == verdict_t::ok && state_[child] == state_t::done) verdict = add_child(child);
    }
    return verdict;
  }

 private:
  enum class state_t : std::uint8_t { unseen, open, done };

  // Opens a container, or checks a leaf and marks it done.
  verdict_t visit(std::uint64_t index) {
    const std::optional<object_t> object = read_object(layout_, index);
    if (!object) return verdict_t::malformed;
    if (object->type == array || object->type == set || object->type == dictionary) {
      const std::uint64_t refs = object->type == dictionary ? 2 * object->count : object->count;
      if (object->count > layout_.bytes.size() || !fits(layout_, *object, layout_.ref_size, refs)) {
        return verdict_t::malformed;
      }
      state_[index] = state_t::open;
      open_.push_back({index, object->contents, refs});
      return verdict_t::ok;
    }
    if (object->type == ascii_string || object->type == utf16_string ||
        object->type == utf8_string) {
      const verdict_t verdict = check_string(layout_, *object);
      if (verdict != verdict_t::ok) return verdict;
    }
    state_[index] = state_t::done;
    height_[index] = 1;
    expanded_[index] = 1;
    return verdict_t::ok;
  }

  // Counts a finished child into the container on top.
  verdict_t add_child(std::uint64_t child) {
    open_container_t& top = open_.back();
    if (open_.size() + height_[child] > max_depth) return verdict_t::too_deep;
    top.height = std::max<std::size_t>(top.height, height_[child] + 1);
    top.expanded += expanded_[child];
    return top.expanded > max_expanded_objects ? verdict_t::too_expanded : verdict_t::ok;
  }

  verdict_t close_top() {
    const open_container_t top = open_.back();
    open_.pop_back();
    state_[top.index] = state_t::done;
    height_[top.index] = static_cast<std::uint8_t>(top.height);
    expanded_[top.index] = static_cast<std::uint32_t>(top.expanded);
    return open_.empty() ? verdict_t::ok : add_child(top.index);
  }

  const layout_t& layout_;
  std::vector<state_t> state_;
  std::vector<std::uint8_t> height_;     // at most max_depth
  std::vector<std::uint32_t> expanded_;  // at most max_expanded_objects
  std::vector<open_container_t> open_;   // at most max_depth
};

}  // namespace

verdict_t check(std::span<const std::uint8_t> bytes) {
  const std::optional<layout_t> layout = read_layout(bytes);
  if (!layout) return verdict_t::malformed;
  return walk_t(*layout).run();
}

}  // namespace platform::binary_list
