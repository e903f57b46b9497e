#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

// OpenSSL objects owned through their free functions.
namespace platform::openssl {

template <auto free_function>
struct deleter_t {
  template <typename T>
  void operator()(T* object) const {
    free_function(object);
  }
};

using bio_ptr_t = std::unique_ptr<BIO, deleter_t<BIO_free_all>>;
using cms_ptr_t = std::unique_ptr<CMS_ContentInfo, deleter_t<CMS_ContentInfo_free>>;
using evp_md_ctx_ptr_t = std::unique_ptr<EVP_MD_CTX, deleter_t<EVP_MD_CTX_free>>;
using evp_pkey_ptr_t = std::unique_ptr<EVP_PKEY, deleter_t<EVP_PKEY_free>>;
using x509_ptr_t = std::unique_ptr<X509, deleter_t<X509_free>>;
using x509_store_ptr_t = std::unique_ptr<X509_STORE, deleter_t<X509_STORE_free>>;
using x509_store_ctx_ptr_t = std::unique_ptr<X509_STORE_CTX, deleter_t<X509_STORE_CTX_free>>;

inline void free_x509_stack(STACK_OF(X509) * stack) {
  sk_X509_pop_free(stack, X509_free);
}
// A stack that owns its certificates.
using x509_stack_ptr_t = std::unique_ptr<STACK_OF(X509), deleter_t<free_x509_stack>>;
inline void free_x509_stack_only(STACK_OF(X509) * stack) {
  sk_X509_free(stack);
}
// A stack of certificates borrowed from another object.
using x509_borrowed_stack_ptr_t = std::unique_ptr<STACK_OF(X509), deleter_t<free_x509_stack_only>>;

// The oldest error on this thread's OpenSSL error queue, as text; the queue is cleared.
std::string take_error();

}  // namespace platform::openssl
