#include "platform/security/requirement_parser.h"

#include <openssl/objects.h>
#include <openssl/pem.h>

#include <charconv>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "platform/security/requirement_lexer.h"
#include "platform/security/requirement_text.h"

namespace platform {

namespace {

using operator_t = value_match_t::operator_t;

// Nesting of parentheses and negations, and clauses in all: enough for any real requirement,
// and far from what would exhaust the stack when the tree is evaluated, printed or destroyed.
constexpr int kMaxNesting = 256;
constexpr int kMaxClauses = 4096;

constexpr std::size_t kSha1Size = 20;
constexpr std::size_t kSha256Size = 32;

// The SHA-1 of the certificate in the file (PEM or DER); empty when there is none.
std::string certificate_file_sha1(const std::string& path) {
  openssl::bio_ptr_t bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) return {};
  openssl::x509_ptr_t certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate && BIO_reset(bio.get()) == 0) {
    certificate.reset(d2i_X509_bio(bio.get(), nullptr));
  }
  openssl::take_error();
  return certificate ? certificate_digest(certificate.get(), EVP_sha1()) : std::string();
}

// Recursive descent over the grammar
//   expression  := conjunction { "or" conjunction }
//   conjunction := negation { "and" negation }
//   negation    := "!" negation | primary
//   primary     := "(" expression ")" | "always" | "true" | "never" | "false"
//                | "identifier" [ "=" ] constant | "cdhash" [ "=" ] hash
//                | "anchor" ( "apple" [ "generic" ] | certificate-test )
//                | ( "certificate" | "cert" ) position certificate-test
//                | ( "info" | "entitlement" ) "[" constant "]" match
//   position    := "leaf" | "root" | digits
//   certificate-test := "trusted" | "=" ( hash | path ) | "[" field "]" match
//   field       := "field." oid | "subject." attribute
//   match       := "exists" | "absent" | "=" [ "*" ] constant [ "*" ]
//                | ( "<" | "<=" | ">" | ">=" ) constant | (nothing: exists)
// Every parse function returns nothing on the first error, which it records.
class parser_t {
 public:
  parser_t(std::vector<token_t> tokens, requirement_error_t& error)
      : tokens_(std::move(tokens)), error_(error) {}

  expression_ptr_t parse_all() {
    expression_ptr_t root = expression();
    if (root && peek().kind != token_kind_t::end) {
      return fail("expected 'and', 'or' or the end of the requirement");
    }
    return root;
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

  // Records what was expected at the current token.
  std::nullptr_t fail(const std::string& expected) {
    return fail_at(peek(), expected + ", found " + describe_token(peek()));
  }
  std::nullptr_t fail_at(const token_t& token, std::string message) {
    error_ = {token.offset, std::move(message)};
    return nullptr;
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
    if (++clauses_ > kMaxClauses) return fail_at(peek(), "too many clauses");
    if (peek().kind != token_kind_t::bang && peek().kind != token_kind_t::open_paren) {
      return primary();
    }
    if (nesting_ == kMaxNesting) return fail_at(peek(), "nested too deeply");
    ++nesting_;
    expression_ptr_t inner;
    if (accept(token_kind_t::bang)) {
      inner = negation();
      if (inner) inner = make_not(std::move(inner));
    } else {
      advance();
      inner = expression();
      if (inner && !accept(token_kind_t::close_paren)) return fail("expected ')'");
    }
    --nesting_;
    return inner;
  }

  expression_ptr_t primary() {
    if (accept_word("always") || accept_word("true")) return make_constant(true);
    if (accept_word("never") || accept_word("false")) return make_constant(false);
    if (accept_word("identifier")) return identifier();
    if (accept_word("cdhash")) return cdhash();
    if (accept_word("anchor")) return anchor();
    if (accept_word("certificate") || accept_word("cert")) return certificate();
    if (accept_word("info")) return dictionary_value(&make_info);
    if (accept_word("entitlement")) return dictionary_value(&make_entitlement);
    if (peek().kind == token_kind_t::word && peek().text == "notarized") {
      return fail_at(peek(), "'notarized' is not supported: no code here is ever notarized");
    }
    return fail(
        "expected a requirement ('identifier', 'anchor', 'certificate', 'info', 'entitlement', "
        "'cdhash', 'always', 'never', '!' or '(')");
  }

  expression_ptr_t identifier() {
    accept(token_kind_t::equal);
    std::optional<std::string> name = constant();
    if (!name) return nullptr;
    if (peek().kind == token_kind_t::star) {
      return fail_at(peek(), "an identifier is compared for equality only, without wildcards");
    }
    return make_identifier(std::move(*name));
  }

  expression_ptr_t cdhash() {
    accept(token_kind_t::equal);
    const token_t& token = peek();
    if (token.kind != token_kind_t::hash ||
        (token.text.size() != kSha1Size && token.text.size() != kSha256Size)) {
      return fail("expected the code directory hash as H\"...\" of 40 or 64 hexadecimal digits");
    }
    return make_cdhash(advance().text);
  }

  expression_ptr_t anchor() {
    if (accept_word("apple")) return make_anchor_apple(accept_word("generic"));
    return certificate_test(kRootPosition);
  }

  expression_ptr_t certificate() {
    if (accept_word("leaf")) return certificate_test(0);
    if (accept_word("root")) return certificate_test(kRootPosition);
    const token_t& token = peek();
    int index = -1;
    if (token.kind == token_kind_t::word) {
      const char* end = token.text.data() + token.text.size();
      const auto [last, error] = std::from_chars(token.text.data(), end, index);
      if (error != std::errc() || last != end) index = -1;
    }
    if (index < 0) return fail("expected 'leaf', 'root' or a certificate number");
    advance();
    return certificate_test(index);
  }

  expression_ptr_t certificate_test(int position) {
    if (accept_word("trusted")) return make_certificate_trusted(position);
    if (accept(token_kind_t::equal)) return certificate_hash(position);
    if (!accept(token_kind_t::open_bracket)) {
      return fail("expected 'trusted', '=' or '[' after the certificate");
    }
    const token_t& field = peek();
    if (field.kind != token_kind_t::word) return fail("expected field.OID or subject.ATTRIBUTE");
    advance();
    if (!accept(token_kind_t::close_bracket)) return fail("expected ']'");
    const token_t& match_token = peek();
    std::optional<value_match_t> match = value_match();
    if (!match) return nullptr;
    if (field.text.starts_with("field.")) {
      return extension_field(position, field, match_token, std::move(*match));
    }
    if (field.text.starts_with("subject."))
      return subject_field(position, field, std::move(*match));
    return fail_at(field,
                   "expected field.OID or subject.ATTRIBUTE, found " + describe_token(field));
  }

  expression_ptr_t certificate_hash(int position) {
    const token_t& token = advance();
    if (token.kind == token_kind_t::hash) {
      if (token.text.size() != kSha1Size) {
        return fail_at(token, "a certificate hash is the SHA-1 of its DER: 40 hexadecimal digits");
      }
      return make_certificate_hash(position, token.text);
    }
    if (token.kind != token_kind_t::string && token.kind != token_kind_t::word) {
      return fail_at(token, "expected H\"SHA-1\" or the path of a certificate file, found " +
                                describe_token(token));
    }
    std::string sha1 = certificate_file_sha1(token.text);
    if (sha1.empty()) return fail_at(token, "cannot read a certificate from " + token.text);
    return make_certificate_hash(position, std::move(sha1));
  }

  expression_ptr_t extension_field(int position, const token_t& field, const token_t& match_token,
                                   value_match_t match) {
    if (match.op != operator_t::exists && match.op != operator_t::absent) {
      return fail_at(match_token, "an extension field is tested only with 'exists' or 'absent'");
    }
    const std::string oid = field.text.substr(6);
    asn1_object_ptr_t object(oid.empty() ? nullptr : OBJ_txt2obj(oid.c_str(), 1));
    if (!object) return fail_at(field, "'" + oid + "' is not an object identifier");
    return make_certificate_extension(position, std::move(object), oid, std::move(match));
  }

  expression_ptr_t subject_field(int position, const token_t& field, value_match_t match) {
    const std::string attribute = field.text.substr(8);
    const int nid = OBJ_txt2nid(attribute.c_str());
    if (nid == NID_undef) return fail_at(field, "'" + attribute + "' is no subject attribute");
    return make_certificate_subject(position, nid, attribute, std::move(match));
  }

  expression_ptr_t dictionary_value(expression_ptr_t (*make)(std::string, value_match_t)) {
    if (!accept(token_kind_t::open_bracket)) return fail("expected '['");
    std::optional<std::string> key = constant();
    if (!key) return nullptr;
    if (!accept(token_kind_t::close_bracket)) return fail("expected ']'");
    std::optional<value_match_t> match = value_match();
    return match ? make(std::move(*key), std::move(*match)) : nullptr;
  }

  std::optional<value_match_t> value_match() {
    if (accept_word("exists")) return value_match_t{};
    if (accept_word("absent")) return value_match_t{operator_t::absent, {}};
    if (accept(token_kind_t::equal)) return equality();
    const std::optional<operator_t> op = ordering();
    if (!op) return value_match_t{};
    std::optional<std::string> operand = constant();
    if (!operand) return std::nullopt;
    return value_match_t{*op, std::move(*operand)};
  }

  // = c, = *c, = c*, = *c*
  std::optional<value_match_t> equality() {
    const bool leading = accept(token_kind_t::star);
    std::optional<std::string> operand = constant();
    if (!operand) return std::nullopt;
    const bool trailing = accept(token_kind_t::star);
    operator_t op = operator_t::equal;
    if (leading) {
      op = trailing ? operator_t::contains : operator_t::ends_with;
    } else if (trailing) {
      op = operator_t::begins_with;
    }
    return value_match_t{op, std::move(*operand)};
  }

  std::optional<operator_t> ordering() {
    static constexpr std::pair<token_kind_t, operator_t> kOperators[] = {
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

  // A quoted string, or a bare word that is no keyword.
  std::optional<std::string> constant() {
    const token_t& token = peek();
    if (token.kind == token_kind_t::word && requirement_text::is_keyword(token.text)) {
      fail_at(token, "'" + token.text + "' is a keyword; quote it to use it as a constant");
      return std::nullopt;
    }
    if (token.kind != token_kind_t::word && token.kind != token_kind_t::string) {
      fail("expected a constant (a word or a quoted string)");
      return std::nullopt;
    }
    if (token.text.find('\0') != std::string::npos) {
      fail_at(token, "a constant cannot hold a NUL character");
      return std::nullopt;
    }
    return advance().text;
  }

  std::vector<token_t> tokens_;
  requirement_error_t& error_;
  std::size_t position_ = 0;
  int nesting_ = 0;
  int clauses_ = 0;
};

}  // namespace

expression_ptr_t parse_requirement(std::string_view text, requirement_error_t& error) {
  std::optional<std::vector<token_t>> tokens = tokenize_requirement(text, error);
  if (!tokens) return nullptr;
  return parser_t(std::move(*tokens), error).parse_all();
}

}  // namespace platform
