#include "platform/security/requirement.h"

#include <openssl/objects.h>

#include <charconv>
#include <vector>

#include "platform/security/requirement_expression.h"
#include "platform/security/requirement_lexer.h"

namespace platform {

namespace {

using operator_t = value_match_t::operator_t;

// Recursive descent over the grammar
//   expression := conjunction { "or" conjunction }
//   conjunction := negation { "and" negation }
//   negation := "!" negation | primary
//   primary := "(" expression ")"
//            | "identifier" [ "=" ] value
//            | "anchor" "apple" "generic"
//            | ( "certificate" | "cert" ) position "[" field "]" [ match ]
//            | "info" "[" key "]" [ match ]
//   position := "leaf" | "root" | digits
//   field := "field." oid | "subject." attribute
//   match := "exists" | ( "=" | "<" | "<=" | ">" | ">=" ) value
// A missing match means "exists", which is what the comment form "/* exists */" leaves behind.
// Every parse function returns nothing on the first error; the caller gives up.
class parser_t {
 public:
  explicit parser_t(std::vector<token_t> tokens) : tokens_(std::move(tokens)) {}

  expression_ptr_t parse_all() {
    expression_ptr_t root = expression();
    return root && peek().kind == token_kind_t::end ? std::move(root) : nullptr;
  }

 private:
  const token_t& peek() const { return tokens_[position_]; }
  const token_t& advance() {
    const token_t& token = tokens_[position_];
    if (token.kind != token_kind_t::end) ++position_;
    return token;
  }
  bool accept(token_kind_t kind) {
    if (peek().kind != kind) return false;
    advance();
    return true;
  }
  bool accept_word(std::string_view word) {
    if (peek().kind != token_kind_t::word || peek().text != word) return false;
    advance();
    return true;
  }

  expression_ptr_t expression() {
    expression_ptr_t left = conjunction();
    while (left && accept_word("or")) {
      expression_ptr_t right = conjunction();
      if (!right) return nullptr;
      left = make_or(std::move(left), std::move(right));
    }
    return left;
  }

  expression_ptr_t conjunction() {
    expression_ptr_t left = negation();
    while (left && accept_word("and")) {
      expression_ptr_t right = negation();
      if (!right) return nullptr;
      left = make_and(std::move(left), std::move(right));
    }
    return left;
  }

  expression_ptr_t negation() {
    if (!accept(token_kind_t::bang)) return primary();
    expression_ptr_t operand = negation();
    return operand ? make_not(std::move(operand)) : nullptr;
  }

  expression_ptr_t primary() {
    if (accept(token_kind_t::open_paren)) {
      expression_ptr_t inner = expression();
      return inner && accept(token_kind_t::close_paren) ? std::move(inner) : nullptr;
    }
    if (accept_word("identifier")) return identifier();
    if (accept_word("anchor")) return anchor();
    if (accept_word("certificate") || accept_word("cert")) return certificate();
    if (accept_word("info")) return info();
    return nullptr;
  }

  expression_ptr_t identifier() {
    accept(token_kind_t::equal);
    std::optional<std::string> name = value();
    return name ? make_identifier(std::move(*name)) : nullptr;
  }

  expression_ptr_t anchor() {
    if (!accept_word("apple") || !accept_word("generic")) return nullptr;
    return make_anchor_generic();
  }

  expression_ptr_t certificate() {
    const std::optional<int> position = certificate_position();
    if (!position || !accept(token_kind_t::open_bracket) || peek().kind != token_kind_t::word) {
      return nullptr;
    }
    const std::string field = advance().text;
    if (!accept(token_kind_t::close_bracket)) return nullptr;
    const std::optional<value_match_t> match = value_match();
    if (!match) return nullptr;
    if (field.starts_with("field.")) return extension_field(*position, field.substr(6), *match);
    if (field.starts_with("subject.")) return subject_field(*position, field.substr(8), *match);
    return nullptr;
  }

  std::optional<int> certificate_position() {
    if (accept_word("leaf")) return 0;
    if (accept_word("root")) return kRootPosition;
    if (peek().kind != token_kind_t::word) return std::nullopt;
    const std::string& digits = advance().text;
    int index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (error != std::errc() || end != digits.data() + digits.size() || index < 0) {
      return std::nullopt;
    }
    return index;
  }

  // Only the presence of an extension is tested; its value is not compared.
  static expression_ptr_t extension_field(int position, const std::string& oid,
                                          const value_match_t& match) {
    if (match.op != operator_t::exists || oid.empty()) return nullptr;
    asn1_object_ptr_t object(OBJ_txt2obj(oid.c_str(), 1));
    if (!object) return nullptr;
    return make_certificate_extension(position, std::move(object));
  }

  static expression_ptr_t subject_field(int position, const std::string& attribute,
                                        value_match_t match) {
    const int nid = OBJ_txt2nid(attribute.c_str());
    if (nid == NID_undef) return nullptr;
    if (match.op != operator_t::exists && match.op != operator_t::equal) return nullptr;
    return make_certificate_subject(position, nid, std::move(match));
  }

  expression_ptr_t info() {
    if (!accept(token_kind_t::open_bracket)) return nullptr;
    std::optional<std::string> key = value();
    if (!key || !accept(token_kind_t::close_bracket)) return nullptr;
    std::optional<value_match_t> match = value_match();
    return match ? make_info(std::move(*key), std::move(*match)) : nullptr;
  }

  std::optional<value_match_t> value_match() {
    if (accept_word("exists")) return value_match_t{};
    const std::optional<operator_t> op = comparison();
    if (!op) return value_match_t{};
    std::optional<std::string> operand = value();
    if (!operand) return std::nullopt;
    return value_match_t{*op, std::move(*operand)};
  }

  std::optional<operator_t> comparison() {
    static constexpr std::pair<token_kind_t, operator_t> kOperators[] = {
        {token_kind_t::equal, operator_t::equal},
        {token_kind_t::less, operator_t::less},
        {token_kind_t::less_equal, operator_t::less_equal},
        {token_kind_t::greater, operator_t::greater},
        {token_kind_t::greater_equal, operator_t::greater_equal},
    };
    for (const auto& [kind, op] : kOperators) {
      if (accept(kind)) return op;
    }
    return std::nullopt;
  }

  std::optional<std::string> value() {
    if (peek().kind != token_kind_t::word && peek().kind != token_kind_t::string) {
      return std::nullopt;
    }
    return advance().text;
  }

  std::vector<token_t> tokens_;
  std::size_t position_ = 0;
};

}  // namespace

requirement_t::requirement_t(std::string text, std::unique_ptr<const requirement_expression_t> root)
    : text_(std::move(text)), root_(std::move(root)) {}
requirement_t::requirement_t(requirement_t&&) noexcept = default;
requirement_t& requirement_t::operator=(requirement_t&&) noexcept = default;
requirement_t::~requirement_t() = default;

std::optional<requirement_t> requirement_t::compile(std::string_view text) {
  std::optional<std::vector<token_t>> tokens = tokenize_requirement(text);
  if (!tokens) return std::nullopt;
  expression_ptr_t root = parser_t(std::move(*tokens)).parse_all();
  if (!root) return std::nullopt;
  return requirement_t(std::string(text), std::move(root));
}

bool requirement_t::is_satisfied_by(const requirement_subject_t& subject) const {
  return root_->evaluate(subject);
}

}  // namespace platform
