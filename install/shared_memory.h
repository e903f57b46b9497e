#pragma once

#include <array>

#include "trace/string.h"

// The application finds its shared-memory objects by a name derived from the channel, so the
// rule is fixed bit for bit: any other rule names other objects.
namespace shared_memory {

// In the order they are removed.
inline constexpr std::array<const char*, 3> suffixes = {"shm", "mtx", "evt_event_mtx"};

// The digest's bytes, least significant first, as eight lower-case hexadecimal digits.
string_t object_name(const string_t& channel, const char* suffix);

}  // namespace shared_memory
