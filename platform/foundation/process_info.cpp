#include "platform/foundation/process_info.h"

#include <fstream>
#include <iterator>

namespace platform::process_info {

std::vector<std::string> arguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> result;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\0', start);
    const std::size_t stop = end == std::string::npos ? text.size() : end;
    result.push_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return result;
}

}  // namespace platform::process_info
