#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What several harnesses share: a scratch directory of their own and files written into it.
namespace fuzz_support {

// A directory made once per process under the temporary directory, removed at exit.
const std::string& scratch_directory();

// Replaces the file at path with the bytes; aborts when it cannot, which is not the input's fault.
void write_file(const std::string& path, std::string_view bytes);

// Trace lines go to a file in the scratch directory, as the service's would go to its own.
void trace_into_scratch();

// The harness's data directory in the source tree (certificates).
std::string data_directory();

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz_support
