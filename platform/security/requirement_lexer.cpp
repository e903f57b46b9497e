#include "platform/security/requirement_lexer.h"

#include <cctype>

namespace platform {

namespace {

bool is_word_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
}

bool is_blank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

class lexer_t {
 public:
  explicit lexer_t(std::string_view text) : rest_(text) {}

  std::optional<std::vector<token_t>> run() {
    std::vector<token_t> tokens;
    while (skip_blanks_and_comments()) {
      if (rest_.empty()) {
        tokens.push_back({token_kind_t::end, {}});
        return tokens;
      }
      std::optional<token_t> token = next();
      if (!token) return std::nullopt;
      tokens.push_back(std::move(*token));
    }
    return std::nullopt;
  }

 private:
  // False for an unterminated comment.
  bool skip_blanks_and_comments() {
    for (;;) {
      while (!rest_.empty() && is_blank(rest_.front()))
        rest_.remove_prefix(1);
      if (!rest_.starts_with("/*")) return true;
      const std::size_t close = rest_.find("*/", 2);
      if (close == std::string_view::npos) return false;
      rest_.remove_prefix(close + 2);
    }
  }

  std::optional<token_t> next() {
    const char c = rest_.front();
    if (c == '"') return quoted();
    if (is_word_character(c)) return word();
    if (rest_.starts_with("<=")) return take(2, token_kind_t::less_equal);
    if (rest_.starts_with(">=")) return take(2, token_kind_t::greater_equal);
    switch (c) {
      case '(':
        return take(1, token_kind_t::open_paren);
      case ')':
        return take(1, token_kind_t::close_paren);
      case '[':
        return take(1, token_kind_t::open_bracket);
      case ']':
        return take(1, token_kind_t::close_bracket);
      case '!':
        return take(1, token_kind_t::bang);
      case '=':
        return take(1, token_kind_t::equal);
      case '<':
        return take(1, token_kind_t::less);
      case '>':
        return take(1, token_kind_t::greater);
      default:
        return std::nullopt;
    }
  }

  token_t take(std::size_t length, token_kind_t kind) {
    token_t token{kind, std::string(rest_.substr(0, length))};
    rest_.remove_prefix(length);
    return token;
  }

  token_t word() {
    std::size_t length = 0;
    while (length < rest_.size() && is_word_character(rest_[length]))
      ++length;
    return take(length, token_kind_t::word);
  }

  std::optional<token_t> quoted() {
    std::string text;
    for (std::size_t i = 1; i < rest_.size(); ++i) {
      if (rest_[i] == '"') {
        rest_.remove_prefix(i + 1);
        return token_t{token_kind_t::string, std::move(text)};
      }
      if (rest_[i] == '\\' && ++i == rest_.size()) break;
      text.push_back(rest_[i]);
    }
    return std::nullopt;
  }

  std::string_view rest_;
};

}  // namespace

std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text) {
  return lexer_t(text).run();
}

}  // namespace platform
