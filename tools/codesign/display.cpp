#include "tools/codesign/display.h"

#include <openssl/x509.h>

#include <memory>

#include "platform/foundation/property_list.h"
#include "platform/security/certificate_fields.h"
#include "platform/security/designated_requirement.h"
#include "platform/security/hex_text.h"

namespace codesign_display {

namespace {

namespace openssl = platform::openssl;

std::string hex(const platform::sha256_t& digest) {
  return platform::hex_text({reinterpret_cast<const char*>(digest.data()), digest.size()});
}

// Text that an OpenSSL printer writes into a memory BIO.
template <typename print_t>
std::string printed(print_t print) {
  const openssl::bio_ptr_t bio(BIO_new(BIO_s_mem()));
  if (!bio || !print(bio.get())) return "?";
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string subject_of(X509* certificate) {
  return printed([certificate](BIO* bio) {
    return X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0,
                              XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) >= 0;
  });
}

std::string time_of(const ASN1_TIME* time) {
  return printed(
      [time](BIO* bio) { return ASN1_TIME_print_ex(bio, time, ASN1_DTFLGS_ISO8601) == 1; });
}

std::string certificate_lines(X509* certificate, int index, int count) {
  std::string label = "Certificate " + std::to_string(index);
  if (index == 0) label += " (leaf)";
  if (index == count - 1) label += " (anchor)";
  return label + "=" + subject_of(certificate) +
         "\n  Validity=" + time_of(X509_get0_notBefore(certificate)) + " .. " +
         time_of(X509_get0_notAfter(certificate)) +
         "\n  SHA-1=" + platform::hex_text(platform::certificate_digest(certificate, EVP_sha1())) +
         "\n  SHA-256=" +
         platform::hex_text(platform::certificate_digest(certificate, EVP_sha256())) + "\n";
}

std::string entitlements_lines(const std::string& entitlements) {
  if (entitlements.empty()) return "Entitlements=none\n";
  const platform::property_list::plist_ptr_t list = platform::property_list::parse(entitlements);
  char* xml = nullptr;  // libplist writes only into a null pointer
  std::uint32_t length = 0;
  if (list) plist_to_xml(list.get(), &xml, &length);
  const std::unique_ptr<char, decltype(&plist_to_xml_free)> owned(xml, &plist_to_xml_free);
  return "Entitlements=\n" + (owned ? std::string(owned.get(), length) : std::string());
}

}  // namespace

std::string designated_requirement(const platform::signed_code_t& code) {
  if (!code.directory.designated_requirement.empty()) return code.directory.designated_requirement;
  STACK_OF(X509)* chain = code.chain.get();
  X509* leaf = sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
  X509* issuer = sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr;
  return platform::default_designated_requirement(code.directory.identifier, leaf, issuer,
                                                  code.directory.team_identifier);
}

std::string describe(const std::filesystem::path& executable, const platform::signed_code_t& code) {
  std::string text = "Executable=" + executable.string() + "\n";
  text += "Identifier=" + code.directory.identifier + "\n";
  text += "TeamIdentifier=" + code.directory.team_identifier + "\n";
  text += "CDHash=" + hex(code.directory_hash) + "\n";
  text += "ExecutableDigest=sha256:" + hex(code.directory.executable_digest) + "\n";
  text += "InfoPlistDigest=sha256:" + hex(code.directory.info_plist_digest) + "\n";
  const int count = sk_X509_num(code.chain.get());
  for (int index = 0; index < count; ++index)
    text += certificate_lines(sk_X509_value(code.chain.get(), index), index, count);
  text += entitlements_lines(code.directory.entitlements);
  return text + "designated => " + designated_requirement(code) + "\n";
}

}  // namespace codesign_display
