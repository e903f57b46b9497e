// Trace formatting: the "%S" rewrite on any format, and string_format with client texts as
// arguments, checked against the C library's own formatting of the rewritten format.
#include "trace/string_format.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "trace/format_rewrite.h"

namespace {

constexpr std::size_t max_text = 131070;

// A format whose conversions are only %s and %S (at most four) and %%; any other "%" is doubled.
std::string text_format(const std::string& raw) {
  std::string format;
  int conversions = 0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
    if (raw[i] != '%') {
      format += raw[i];
    } else if (next == '%' || ((next == 's' || next == 'S') && conversions < 4)) {
      conversions += next != '%';
      format += raw[i];
      format += next;
      ++i;
    } else {
      format += "%%";
    }
  }
  return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string raw = input.ConsumeRandomLengthString();
  std::string rewritten = raw;
  rewrite_text_conversions(rewritten.data());
  if (rewritten.size() != raw.size()) std::abort();

  const std::string format = text_format(raw);
  const std::string first = input.ConsumeRandomLengthString();
  const std::string second = input.ConsumeRandomLengthString();
  // Sometimes a text past the formatter's limit.
  const std::string third = input.ConsumeBool() ? std::string(max_text + 1, 'x') : "x";
  const std::string fourth = input.ConsumeRemainingBytesAsString();
  const string_t result =
      string_format(format.c_str(), first.c_str(), second.c_str(), third.c_str(), fourth.c_str());

  std::string expected_format = format;
  rewrite_text_conversions(expected_format.data());
  const int length = std::snprintf(nullptr, 0, expected_format.c_str(), first.c_str(),
                                   second.c_str(), third.c_str(), fourth.c_str());
  if (length < 0) std::abort();
  std::vector<char> expected(static_cast<std::size_t>(length) + 1);
  std::snprintf(expected.data(), expected.size(), expected_format.c_str(), first.c_str(),
                second.c_str(), third.c_str(), fourth.c_str());
  // Texts up to the limit come out exactly as the C library formats them; longer ones empty.
  const bool fits = static_cast<std::size_t>(length) <= max_text;
  if (fits ? std::string(result.c_str()) != expected.data() : result.length() != 0) std::abort();
  return 0;
}
