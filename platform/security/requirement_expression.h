#pragma once

#include <openssl/asn1.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/security/openssl_handles.h"
#include "platform/security/requirement_subject.h"

// The nodes of a compiled requirement.
namespace platform {

struct requirement_expression_t {
  virtual ~requirement_expression_t() = default;
  virtual bool evaluate(const requirement_subject_t& subject) const = 0;
};

using expression_ptr_t = std::unique_ptr<const requirement_expression_t>;
using asn1_object_ptr_t = std::unique_ptr<ASN1_OBJECT, openssl::deleter_t<ASN1_OBJECT_free>>;

// How a value found in the code is matched.
struct value_match_t {
  enum class operator_t { exists, equal, less, less_equal, greater, greater_equal };
  operator_t op = operator_t::exists;
  std::string value;

  // text: the value found, or nothing when there is none or it is not a text.
  bool holds(bool present, const std::optional<std::string>& text) const;
};

// A certificate of the chain counted from the leaf (0); kRootPosition is the anchor, the last.
inline constexpr int kRootPosition = -1;

expression_ptr_t make_not(expression_ptr_t operand);
expression_ptr_t make_and(expression_ptr_t left, expression_ptr_t right);
expression_ptr_t make_or(expression_ptr_t left, expression_ptr_t right);
expression_ptr_t make_identifier(std::string identifier);
expression_ptr_t make_anchor_generic();
expression_ptr_t make_certificate_extension(int position, asn1_object_ptr_t oid);
expression_ptr_t make_certificate_subject(int position, int nid, value_match_t match);
expression_ptr_t make_info(std::string key, value_match_t match);

}  // namespace platform
