#include "platform/security/code_signature.h"

#include <limits>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "platform/security/code_signing.h"
#include "platform/security/marker_extensions.h"

namespace platform {

namespace {

constexpr unsigned int kSignFlags = CMS_BINARY | CMS_NOSMIMECAP;

signature_check_t failure(os_status_t status, std::string reason) {
  return signature_check_t{status, std::move(reason), nullptr};
}

std::string bio_contents(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

openssl::cms_ptr_t parse_cms(std::string_view der) {
  if (der.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
  openssl::bio_ptr_t bio(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
  return openssl::cms_ptr_t(bio ? d2i_CMS_bio(bio.get(), nullptr) : nullptr);
}

// The chain from the signer to an anchor of the store, or nothing (the reason in *error).
openssl::x509_stack_ptr_t build_chain(X509_STORE* anchors, X509* signer,
                                      STACK_OF(X509) * intermediates, std::string& error) {
  openssl::x509_store_ctx_ptr_t context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), anchors, signer, intermediates) != 1) {
    error = openssl::take_error();
    return nullptr;
  }
  X509_STORE_CTX_set_verify_cb(context.get(), accept_code_signing_markers);
  if (X509_verify_cert(context.get()) != 1) {
    error = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
    return nullptr;
  }
  return openssl::x509_stack_ptr_t(X509_STORE_CTX_get1_chain(context.get()));
}

}  // namespace

signature_check_t verify_code_signature(std::string_view der, X509_STORE* anchors) {
  const openssl::cms_ptr_t cms = parse_cms(der);
  if (!cms) return failure(errSecCSSignatureFailed, "the signature is not a CMS structure");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    return failure(errSecCSSignatureFailed, "the signature is not SignedData");
  }
  if (sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1) {
    return failure(errSecCSSignatureFailed, "the signature does not have exactly one signer");
  }
  // The signer's chain is built below against the anchors, and that chain is the one the
  // requirement is evaluated on; CMS_verify checks only the signature itself.
  openssl::bio_ptr_t content(BIO_new(BIO_s_mem()));
  if (!content || CMS_verify(cms.get(), nullptr, nullptr, nullptr, content.get(),
                             CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    return failure(errSecCSSignatureFailed,
                   "the signature does not verify: " + openssl::take_error());
  }
  const openssl::x509_borrowed_stack_ptr_t signers(CMS_get0_signers(cms.get()));
  X509* signer = signers ? sk_X509_value(signers.get(), 0) : nullptr;
  const openssl::x509_stack_ptr_t embedded(CMS_get1_certs(cms.get()));
  std::string chain_error;
  openssl::x509_stack_ptr_t chain =
      signer ? build_chain(anchors, signer, embedded.get(), chain_error) : nullptr;
  if (!chain) {
    return failure(errSecCSSignatureFailed, "the signer is not trusted: " +
                                                (signer ? chain_error : "no signer certificate"));
  }
  const std::string signed_content = bio_contents(content.get());
  std::optional<code_directory_t> directory = code_directory_t::decode(signed_content);
  if (!directory) {
    return failure(errSecCSSignatureFailed, "the signed content is no code directory");
  }
  return signature_check_t{
      0,
      {},
      std::make_shared<const signed_code_t>(
          signed_code_t{std::move(*directory), std::move(chain), sha256_of_bytes(signed_content)})};
}

std::optional<std::string> sign_code_directory(const code_directory_t& directory,
                                               const signing_identity_t& identity,
                                               std::string& error) {
  const std::string content = directory.encode();
  openssl::bio_ptr_t input(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  openssl::cms_ptr_t cms(
      input ? CMS_sign(identity.leaf, identity.key, identity.intermediates, input.get(), kSignFlags)
            : nullptr);
  openssl::bio_ptr_t output(BIO_new(BIO_s_mem()));
  if (!cms || !output || i2d_CMS_bio(output.get(), cms.get()) != 1) {
    error = openssl::take_error();
    return std::nullopt;
  }
  return bio_contents(output.get());
}

std::optional<std::string> team_identifier_of(X509* leaf) {
  std::vector<std::string> units = subject_values(leaf, NID_organizationalUnitName);
  if (units.empty()) return std::nullopt;
  return std::move(units.front());
}

}  // namespace platform
