#include "platform/security/requirement_text.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/security/hex_text.h"

namespace platform::requirement_text {

namespace {

constexpr std::array<std::string_view, 21> kKeywords = {
    "absent",      "always",      "and",       "anchor", "apple",   "cdhash",     "cert",
    "certificate", "entitlement", "exists",    "false",  "generic", "identifier", "info",
    "leaf",        "never",       "notarized", "or",     "root",    "trusted",    "true",
};

bool is_plain(std::string_view value) {
  return !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

}  // namespace

bool is_keyword(std::string_view word) {
  return std::find(kKeywords.begin(), kKeywords.end(), word) != kKeywords.end();
}

std::string constant(std::string_view value) {
  return is_plain(value) && !is_keyword(value) ? std::string(value) : quoted(value);
}

std::string quoted(std::string_view value) {
  std::string text = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') text.push_back('\\');
    text.push_back(c);
  }
  return text + "\"";
}

std::string hash_constant(std::string_view bytes) {
  return "H\"" + hex_text(bytes) + "\"";
}

}  // namespace platform::requirement_text
