#include "tools/journal/journal_line.h"

namespace standin {
namespace {

void append_escaped(std::string& out, std::string_view field) {
  for (char c : field) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
}

std::optional<std::string> unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace

std::string format_journal_line(const journal_entry_t& entry) {
  std::string line;
  append_escaped(line, entry.tool);
  for (const auto& argument : entry.arguments) {
    line += '\t';
    append_escaped(line, argument);
  }
  line += '\n';
  return line;
}

std::optional<journal_entry_t> parse_journal_line(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  std::vector<std::string> fields;
  while (true) {
    const auto tab = line.find('\t');
    auto field = unescape(line.substr(0, tab));
    if (!field) return std::nullopt;
    fields.push_back(std::move(*field));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  journal_entry_t entry{std::move(fields.front()), {}};
  entry.arguments.assign(std::make_move_iterator(fields.begin() + 1),
                         std::make_move_iterator(fields.end()));
  return entry;
}

}  // namespace standin
