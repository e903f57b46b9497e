#include "platform/security/requirement_lexer.h"

#include <cctype>

namespace platform {

namespace {

bool is_word_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
}

bool is_path_character(char c) {
  return is_word_character(c) || c == '/';
}

bool is_blank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class lexer_t {
 public:
  lexer_t(std::string_view text, requirement_error_t& error) : text_(text), error_(error) {}

  std::optional<std::vector<token_t>> run() {
    std::vector<token_t> tokens;
    while (skip_blanks_and_comments()) {
      if (position_ == text_.size()) {
        tokens.push_back({token_kind_t::end, {}, position_});
        return tokens;
      }
      std::optional<token_t> token = next();
      if (!token) return std::nullopt;
      tokens.push_back(std::move(*token));
    }
    return std::nullopt;
  }

 private:
  std::string_view rest() const { return text_.substr(position_); }

  bool fail(std::size_t offset, std::string message) {
    error_ = {offset, std::move(message)};
    return false;
  }

  // False for an unterminated comment.
  bool skip_blanks_and_comments() {
    for (;;) {
      while (position_ < text_.size() && is_blank(text_[position_]))
        ++position_;
      if (rest().starts_with("//")) {
        const std::size_t end = text_.find('\n', position_);
        position_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (rest().starts_with("/*")) {
        const std::size_t close = text_.find("*/", position_ + 2);
        if (close == std::string_view::npos) return fail(position_, "unterminated comment");
        position_ = close + 2;
      } else {
        return true;
      }
    }
  }

  std::optional<token_t> next() {
    const char c = text_[position_];
    if (c == 'H' && rest().starts_with("H\"")) return hash();
    if (c == '"') return quoted();
    if (is_word_character(c)) return run_of(is_word_character);
    if (c == '/' && rest().size() > 1 && is_word_character(text_[position_ + 1])) {
      return run_of(is_path_character);
    }
    if (rest().starts_with("<=")) return take(2, token_kind_t::less_equal);
    if (rest().starts_with(">=")) return take(2, token_kind_t::greater_equal);
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
      case '*':
        return take(1, token_kind_t::star);
      case '=':
        return take(1, token_kind_t::equal);
      case '<':
        return take(1, token_kind_t::less);
      case '>':
        return take(1, token_kind_t::greater);
      default:
        fail(position_, std::string("unexpected character '") + c + "'");
        return std::nullopt;
    }
  }

  token_t take(std::size_t length, token_kind_t kind) {
    token_t token{kind, std::string(text_.substr(position_, length)), position_};
    position_ += length;
    return token;
  }

  token_t run_of(bool (*belongs)(char)) {
    std::size_t length = 0;
    while (position_ + length < text_.size() && belongs(text_[position_ + length]))
      ++length;
    return take(length, token_kind_t::word);
  }

  std::optional<token_t> quoted() {
    const std::size_t start = position_;
    std::string text;
    for (std::size_t i = start + 1; i < text_.size(); ++i) {
      if (text_[i] == '"') {
        position_ = i + 1;
        return token_t{token_kind_t::string, std::move(text), start};
      }
      if (text_[i] == '\\' && ++i == text_.size()) break;
      text.push_back(text_[i]);
    }
    fail(start, "unterminated string");
    return std::nullopt;
  }

  std::optional<token_t> hash() {
    const std::size_t start = position_;
    std::string bytes;
    std::size_t i = start + 2;
    for (; i + 1 < text_.size() && hex_value(text_[i]) >= 0 && hex_value(text_[i + 1]) >= 0;
         i += 2) {
      bytes.push_back(static_cast<char>(hex_value(text_[i]) * 16 + hex_value(text_[i + 1])));
    }
    if (i >= text_.size() || text_[i] != '"' || bytes.empty()) {
      fail(i, "expected pairs of hexadecimal digits and a closing '\"' in the hash constant");
      return std::nullopt;
    }
    position_ = i + 1;
    return token_t{token_kind_t::hash, std::move(bytes), start};
  }

  std::string_view text_;
  requirement_error_t& error_;
  std::size_t position_ = 0;
};

}  // namespace

std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text,
                                                         requirement_error_t& error) {
  return lexer_t(text, error).run();
}

std::optional<std::vector<token_t>> tokenize_requirement(std::string_view text) {
  requirement_error_t ignored;
  return tokenize_requirement(text, ignored);
}

std::string describe_token(const token_t& token) {
  switch (token.kind) {
    case token_kind_t::end:
      return "the end of the text";
    case token_kind_t::string:
      return "the string \"" + token.text + "\"";
    case token_kind_t::hash:
      return "a hash constant";
    default:
      return "'" + token.text + "'";
  }
}

}  // namespace platform
