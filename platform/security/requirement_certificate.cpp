#include <algorithm>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "platform/security/requirement_expression.h"
#include "platform/security/requirement_text.h"
#include "platform/security/trust_store.h"

// The requirement nodes that look at the signer's certificate chain.
namespace platform {

namespace {

using operator_t = value_match_t::operator_t;

X509* certificate_at(const requirement_subject_t& subject, int position) {
  if (subject.chain == nullptr) return nullptr;
  const int count = sk_X509_num(subject.chain);
  const int index = position == kRootPosition ? count - 1 : position;
  return index >= 0 && index < count ? sk_X509_value(subject.chain, index) : nullptr;
}

std::string certificate_name(int position) {
  if (position == kRootPosition) return "anchor";
  if (position == 0) return "certificate leaf";
  return "certificate " + std::to_string(position);
}

// Only code whose chain led to a trust anchor is ever evaluated, so "generic" holds whenever a
// chain is there at all; the vendor's own root is the anchor folder's vendor file.
class anchor_apple_t final : public requirement_expression_t {
 public:
  explicit anchor_apple_t(bool generic) : generic_(generic) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* anchor = certificate_at(subject, kRootPosition);
    if (anchor == nullptr) return false;
    return generic_ || (subject.anchors != nullptr && is_vendor_root(subject.anchors, anchor));
  }
  void print(std::string& out) const override {
    out += generic_ ? "anchor apple generic" : "anchor apple";
  }

 private:
  bool generic_;
};

class certificate_trusted_t final : public requirement_expression_t {
 public:
  explicit certificate_trusted_t(int position) : position_(position) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    return certificate != nullptr && subject.anchors != nullptr &&
           is_trust_anchor(subject.anchors, certificate);
  }
  void print(std::string& out) const override { out += certificate_name(position_) + " trusted"; }

 private:
  int position_;
};

class certificate_hash_t final : public requirement_expression_t {
 public:
  certificate_hash_t(int position, std::string sha1)
      : position_(position), sha1_(std::move(sha1)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    return certificate != nullptr && certificate_digest(certificate, EVP_sha1()) == sha1_;
  }
  void print(std::string& out) const override {
    out += certificate_name(position_) + " = " + requirement_text::hash_constant(sha1_);
  }

 private:
  int position_;
  std::string sha1_;
};

class certificate_extension_t final : public requirement_expression_t {
 public:
  certificate_extension_t(int position, asn1_object_ptr_t oid, std::string oid_text,
                          value_match_t match)
      : position_(position),
        oid_(std::move(oid)),
        oid_text_(std::move(oid_text)),
        match_(std::move(match)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    return certificate != nullptr && match_.holds(has_extension(certificate, oid_.get()), {});
  }
  void print(std::string& out) const override {
    out += certificate_name(position_) + "[field." + oid_text_ + "]";
    match_.print(out);
  }

 private:
  int position_;
  asn1_object_ptr_t oid_;
  std::string oid_text_;
  value_match_t match_;
};

class certificate_subject_t final : public requirement_expression_t {
 public:
  certificate_subject_t(int position, int nid, std::string attribute, value_match_t match)
      : position_(position),
        nid_(nid),
        attribute_(std::move(attribute)),
        match_(std::move(match)) {}
  bool evaluate(const requirement_subject_t& subject) const override {
    X509* certificate = certificate_at(subject, position_);
    if (certificate == nullptr) return false;
    const std::vector<std::string> values = subject_values(certificate, nid_);
    if (match_.op == operator_t::exists || match_.op == operator_t::absent) {
      return match_.holds(!values.empty(), {});
    }
    return std::any_of(values.begin(), values.end(),
                       [this](const std::string& value) { return match_.holds(true, value); });
  }
  void print(std::string& out) const override {
    out += certificate_name(position_) + "[subject." + attribute_ + "]";
    match_.print(out);
  }

 private:
  int position_;
  int nid_;
  std::string attribute_;
  value_match_t match_;
};

}  // namespace

expression_ptr_t make_anchor_apple(bool generic) {
  return std::make_unique<anchor_apple_t>(generic);
}
expression_ptr_t make_certificate_trusted(int position) {
  return std::make_unique<certificate_trusted_t>(position);
}
expression_ptr_t make_certificate_hash(int position, std::string sha1) {
  return std::make_unique<certificate_hash_t>(position, std::move(sha1));
}
expression_ptr_t make_certificate_extension(int position, asn1_object_ptr_t oid,
                                            std::string oid_text, value_match_t match) {
  return std::make_unique<certificate_extension_t>(position, std::move(oid), std::move(oid_text),
                                                   std::move(match));
}
expression_ptr_t make_certificate_subject(int position, int nid, std::string attribute,
                                          value_match_t match) {
  return std::make_unique<certificate_subject_t>(position, nid, std::move(attribute),
                                                 std::move(match));
}

}  // namespace platform
