#include "platform/security/requirement_expression.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/property_list.h"
#include "platform/security/requirement_text.h"

namespace platform {

namespace {

using operator_t = value_match_t::operator_t;

// The operand in parentheses when it binds less tightly than its context.
void print_operand(std::string& out, const requirement_expression_t& operand, int context) {
  if (operand.precedence() >= context) return operand.print(out);
  out += "(";
  operand.print(out);
  out += ")";
}

class constant_t final : public requirement_expression_t {
 public:
  explicit constant_t(bool value) : value_(value) {}
  bool evaluate(const requirement_subject_t&) const override { return value_; }
  void print(std::string& out) const override { out += value_ ? "always" : "never"; }

 private:
  bool value_;
};

class not_t final : public requirement_expression_t {
 public:
  explicit not_t(expression_ptr_t operand) : operand_(std::move(operand)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return !operand_->evaluate(subject);
  }
  void print(std::string& out) const override {
    out += "!";
    print_operand(out, *operand_, 3);
  }

 private:
  expression_ptr_t operand_;
};

class binary_t : public requirement_expression_t {
 public:
  binary_t(expression_ptr_t left, expression_ptr_t right, const char* word, int precedence)
      : left_(std::move(left)), right_(std::move(right)), word_(word), precedence_(precedence) {}
  void print(std::string& out) const override {
    print_operand(out, *left_, precedence_);
    out += word_;
    print_operand(out, *right_, precedence_);
  }
  int precedence() const override { return precedence_; }

 protected:
  expression_ptr_t left_, right_;

 private:
  const char* word_;
  int precedence_;
};

class and_t final : public binary_t {
 public:
  and_t(expression_ptr_t left, expression_ptr_t right)
      : binary_t(std::move(left), std::move(right), " and ", 2) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return left_->evaluate(subject) && right_->evaluate(subject);
  }
};

class or_t final : public binary_t {
 public:
  or_t(expression_ptr_t left, expression_ptr_t right)
      : binary_t(std::move(left), std::move(right), " or ", 1) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return left_->evaluate(subject) || right_->evaluate(subject);
  }
};

class identifier_t final : public requirement_expression_t {
 public:
  explicit identifier_t(std::string identifier) : identifier_(std::move(identifier)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return subject.identifier == identifier_;
  }
  void print(std::string& out) const override {
    out += "identifier " + requirement_text::quoted(identifier_);
  }

 private:
  std::string identifier_;
};

class cdhash_t final : public requirement_expression_t {
 public:
  explicit cdhash_t(std::string hash) : hash_(std::move(hash)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    const sha256_t* actual = subject.code_directory_hash;
    return actual != nullptr && hash_.size() <= actual->size() &&
           std::memcmp(actual->data(), hash_.data(), hash_.size()) == 0;
  }
  void print(std::string& out) const override {
    out += "cdhash " + requirement_text::hash_constant(hash_);
  }

 private:
  std::string hash_;
};

// A property-list value as a text: strings as they are, integers in decimal; other types have
// none.
std::optional<std::string> text_of(plist_t item) {
  if (PLIST_IS_STRING(item)) return property_list::string_value(item);
  if (PLIST_IS_UINT(item)) {
    std::uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return std::to_string(value);
  }
  return std::nullopt;
}

// An array matches a comparison when one of its elements does.
bool value_matches(const value_match_t& match, plist_t item) {
  const bool presence = match.op == operator_t::exists || match.op == operator_t::absent;
  if (!presence && PLIST_IS_ARRAY(item)) {
    const std::uint32_t count = plist_array_get_size(item);
    for (std::uint32_t index = 0; index < count; ++index) {
      if (match.holds(true, text_of(plist_array_get_item(item, index)))) return true;
    }
    return false;
  }
  return match.holds(item != nullptr, item ? text_of(item) : std::nullopt);
}

// info[key] and entitlement[key]: a value of one of the code's dictionaries.
class dictionary_value_t final : public requirement_expression_t {
 public:
  dictionary_value_t(plist_t requirement_subject_t::*dictionary, const char* word, std::string key,
                     value_match_t match)
      : dictionary_(dictionary), word_(word), key_(std::move(key)), match_(std::move(match)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    plist_t dictionary = subject.*dictionary_;
    plist_t item =
        PLIST_IS_DICT(dictionary) ? plist_dict_get_item(dictionary, key_.c_str()) : nullptr;
    return value_matches(match_, item);
  }
  void print(std::string& out) const override {
    out += word_;
    out += "[" + requirement_text::constant(key_) + "]";
    match_.print(out);
  }

 private:
  plist_t requirement_subject_t::*dictionary_;
  const char* word_;
  std::string key_;
  value_match_t match_;
};

}  // namespace

expression_ptr_t make_constant(bool value) {
  return std::make_unique<constant_t>(value);
}
expression_ptr_t make_not(expression_ptr_t operand) {
  return std::make_unique<not_t>(std::move(operand));
}
expression_ptr_t make_and(expression_ptr_t left, expression_ptr_t right) {
  return std::make_unique<and_t>(std::move(left), std::move(right));
}
expression_ptr_t make_or(expression_ptr_t left, expression_ptr_t right) {
  return std::make_unique<or_t>(std::move(left), std::move(right));
}
expression_ptr_t make_identifier(std::string identifier) {
  return std::make_unique<identifier_t>(std::move(identifier));
}
expression_ptr_t make_cdhash(std::string hash) {
  return std::make_unique<cdhash_t>(std::move(hash));
}
expression_ptr_t make_info(std::string key, value_match_t match) {
  return std::make_unique<dictionary_value_t>(&requirement_subject_t::info, "info", std::move(key),
                                              std::move(match));
}
expression_ptr_t make_entitlement(std::string key, value_match_t match) {
  return std::make_unique<dictionary_value_t>(&requirement_subject_t::entitlements, "entitlement",
                                              std::move(key), std::move(match));
}

}  // namespace platform
