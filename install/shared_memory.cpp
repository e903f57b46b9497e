#include "install/shared_memory.h"

#include <sys/mman.h>
#include <xxhash.h>

#include <cstdint>

#include "service/helper_tool.h"
#include "trace/byte_buffer.h"
#include "trace/hex_string.h"
#include "trace/string_format.h"

namespace shared_memory {

namespace {

constexpr const char* prefix = "vl";
constexpr XXH32_hash_t seed = 19;
constexpr std::uint32_t name_length = 8;

}  // namespace

string_t object_name(const string_t& channel, const char* suffix) {
  const auto name_part = string_format("%s_%s", channel.c_str(), suffix);
  const auto hashed = string_format("%s_%s", prefix, name_part.c_str());
  const std::uint64_t value = XXH32(hashed.c_str(), hashed.length(), seed);
  const auto hex = hex_string(make_view_of_u64(value));
  return string_t(hex.view().substr(0, name_length));
}

}  // namespace shared_memory

// The objects may well not exist (the application was not running): shm_unlink's result is moot.
// The channel comes by value, as the service object's interface has it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void helper_tool_t::cleanSharedMemory(string_t channel) {
  for (const char* suffix : shared_memory::suffixes) {
    shm_unlink(shared_memory::object_name(channel, suffix).c_str());
  }
}
