#include "platform/security/requirement_expression.h"

#include <algorithm>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "platform/security/info_text_order.h"

namespace platform {

namespace {

using operator_t = value_match_t::operator_t;

class not_t final : public requirement_expression_t {
 public:
  explicit not_t(expression_ptr_t operand) : operand_(std::move(operand)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return !operand_->evaluate(subject);
  }

 private:
  expression_ptr_t operand_;
};

class and_t final : public requirement_expression_t {
 public:
  and_t(expression_ptr_t left, expression_ptr_t right)
      : left_(std::move(left)), right_(std::move(right)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return left_->evaluate(subject) && right_->evaluate(subject);
  }

 private:
  expression_ptr_t left_, right_;
};

class or_t final : public requirement_expression_t {
 public:
  or_t(expression_ptr_t left, expression_ptr_t right)
      : left_(std::move(left)), right_(std::move(right)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return left_->evaluate(subject) || right_->evaluate(subject);
  }

 private:
  expression_ptr_t left_, right_;
};

class identifier_t final : public requirement_expression_t {
 public:
  explicit identifier_t(std::string identifier) : identifier_(std::move(identifier)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    return subject.identifier == identifier_;
  }

 private:
  std::string identifier_;
};

// Only code whose chain led to a trust anchor is ever evaluated, so this holds whenever a
// chain is there at all.
class anchor_generic_t final : public requirement_expression_t {
 public:
  bool evaluate(const requirement_subject_t& subject) const override {
    return subject.chain != nullptr && sk_X509_num(subject.chain) > 0;
  }
};

X509* certificate_at(const requirement_subject_t& subject, int position) {
  if (subject.chain == nullptr) return nullptr;
  const int count = sk_X509_num(subject.chain);
  const int index = position == kRootPosition ? count - 1 : position;
  return index >= 0 && index < count ? sk_X509_value(subject.chain, index) : nullptr;
}

class certificate_extension_t final : public requirement_expression_t {
 public:
  certificate_extension_t(int position, asn1_object_ptr_t oid)
      : position_(position), oid_(std::move(oid)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    return certificate != nullptr && has_extension(certificate, oid_.get());
  }

 private:
  int position_;
  asn1_object_ptr_t oid_;
};

class certificate_subject_t final : public requirement_expression_t {
 public:
  certificate_subject_t(int position, int nid, value_match_t match)
      : position_(position), nid_(nid), match_(std::move(match)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    if (certificate == nullptr) return false;
    const std::vector<std::string> values = subject_values(certificate, nid_);
    return std::any_of(values.begin(), values.end(),
                       [this](const std::string& value) { return match_.holds(true, value); });
  }

 private:
  int position_;
  int nid_;
  value_match_t match_;
};

// An info value as a text: strings as they are, integers in decimal; other types have none.
std::optional<std::string> text_of(plist_t item) {
  if (PLIST_IS_STRING(item)) {
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return std::string(text, length);
  }
  if (PLIST_IS_UINT(item)) {
    std::uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return std::to_string(value);
  }
  return std::nullopt;
}

class info_t final : public requirement_expression_t {
 public:
  info_t(std::string key, value_match_t match) : key_(std::move(key)), match_(std::move(match)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    plist_t item =
        PLIST_IS_DICT(subject.info) ? plist_dict_get_item(subject.info, key_.c_str()) : nullptr;
    return match_.holds(item != nullptr, item ? text_of(item) : std::nullopt);
  }

 private:
  std::string key_;
  value_match_t match_;
};

}  // namespace

bool value_match_t::holds(bool present, const std::optional<std::string>& text) const {
  if (op == operator_t::exists) return present;
  if (!text) return false;
  if (op == operator_t::equal) return *text == value;
  const std::strong_ordering order = compare_info_texts(*text, value);
  switch (op) {
    case operator_t::less:
      return order < 0;
    case operator_t::less_equal:
      return order <= 0;
    case operator_t::greater:
      return order > 0;
    case operator_t::greater_equal:
      return order >= 0;
    default:  // exists and equal are decided above
      return false;
  }
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
expression_ptr_t make_anchor_generic() {
  return std::make_unique<anchor_generic_t>();
}
expression_ptr_t make_certificate_extension(int position, asn1_object_ptr_t oid) {
  return std::make_unique<certificate_extension_t>(position, std::move(oid));
}
expression_ptr_t make_certificate_subject(int position, int nid, value_match_t match) {
  return std::make_unique<certificate_subject_t>(position, nid, std::move(match));
}
expression_ptr_t make_info(std::string key, value_match_t match) {
  return std::make_unique<info_t>(std::move(key), std::move(match));
}

}  // namespace platform
