#include "tests/platform/security/requirement_reference.h"

#include "platform/security/certificate_fields.h"
#include "platform/security/hex_text.h"

namespace codesign_fixtures {

namespace {

plist_t string_array(std::initializer_list<const char*> texts) {
  plist_t array = plist_new_array();
  for (const char* text : texts)
    plist_array_append_item(array, plist_new_string(text));
  return array;
}

std::string sha1_hex(X509* certificate) {
  return platform::hex_text(platform::certificate_digest(certificate, EVP_sha1()));
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
    text.replace(at, from.size(), to);
}

}  // namespace

reference_code_t::reference_code_t()
    : full_chain_(sk_X509_new_null()), info_(plist_new_dict()), entitlements_(plist_new_dict()) {
  for (const identity_t* identity : {&chain_.leaf, &chain_.intermediate, &chain_.root}) {
    X509_up_ref(identity->certificate.get());
    sk_X509_push(full_chain_.get(), identity->certificate.get());
  }
  const std::filesystem::path anchors = scratch_.path("anchors");
  std::filesystem::create_directories(anchors);
  write_certificate_pem(anchors / platform::kVendorRootFile, chain_.root.certificate.get());
  write_certificate_pem(scratch_.path("root.pem"), chain_.root.certificate.get());
  write_certificate_pem(scratch_.path("other.pem"), chain_.intermediate.certificate.get());
  anchors_ = platform::load_trust_anchors(anchors);

  plist_t info = info_.get();
  plist_dict_set_item(info, "CFBundleShortVersionString", plist_new_string("6.0.0"));
  plist_dict_set_item(info, "CFBundleVersion", plist_new_string("10.2"));
  plist_dict_set_item(info, "CFBundleIdentifier", plist_new_string(kSigningIdentifier));
  plist_dict_set_item(info, "Build", plist_new_uint(42));
  plist_dict_set_item(info, "Flag", plist_new_bool(1));
  plist_dict_set_item(info, "Languages", string_array({"en", "de"}));
  plist_dict_set_item(info, "Key With Blanks", plist_new_string("x"));

  plist_t entitlements = entitlements_.get();
  plist_dict_set_item(entitlements, "com.corvantix.helper", plist_new_bool(1));
  plist_dict_set_item(entitlements, "com.corvantix.team", plist_new_string(kTeamIdentifier));
  plist_dict_set_item(entitlements, "com.corvantix.groups",
                      string_array({"R4TQ8N2VXH.shared", "R4TQ8N2VXH.cache"}));

  for (std::size_t index = 0; index < code_directory_hash_.size(); ++index)
    code_directory_hash_[index] = static_cast<std::uint8_t>(index);
}

platform::requirement_subject_t reference_code_t::subject() const {
  platform::requirement_subject_t subject{kSigningIdentifier, full_chain_.get(), info_.get()};
  subject.entitlements = entitlements_.get();
  subject.code_directory_hash = &code_directory_hash_;
  subject.anchors = anchors_.get();
  return subject;
}

std::string reference_code_t::fill_in(std::string text) const {
  replace_all(text, "$ROOT_SHA1", sha1_hex(chain_.root.certificate.get()));
  replace_all(text, "$INTERMEDIATE_SHA1", sha1_hex(chain_.intermediate.certificate.get()));
  replace_all(text, "$LEAF_SHA1", sha1_hex(chain_.leaf.certificate.get()));
  replace_all(text, "$ROOT_FILE", scratch_.path("root.pem"));
  replace_all(text, "$OTHER_FILE", scratch_.path("other.pem"));
  return text;
}

}  // namespace codesign_fixtures
