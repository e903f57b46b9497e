#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// One call of a stand-in tool: the tool's macOS path and its arguments.
struct journal_entry_t {
  std::string tool;
  std::vector<std::string> arguments;

  bool operator==(const journal_entry_t&) const = default;
};

// One journal line, ending in a newline: the tool path and each argument, each preceded by a tab.
// Tab, newline and backslash inside a field are written as \t, \n and \\ so that every call stays
// on one line and an empty argument stays visible (a trailing tab).
std::string format_journal_line(const journal_entry_t& entry);

// The entry of one line (with or without its newline); nothing for a malformed escape.
std::optional<journal_entry_t> parse_journal_line(std::string_view line);

}  // namespace standin
