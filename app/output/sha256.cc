#include "app/output/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "runtime/error/exception.h"

namespace {

// OpenSSL's oldest queued error, as text, for the exception.
[[noreturn]] void ThrowDigestError(const char* operation) {
  unsigned long code = ERR_get_error();
  char text[256] = "no detail";
  if (code != 0) ERR_error_string_n(code, text, sizeof(text));
  ERR_clear_error();
  throw qo::exception_t(std::string("SHA-256: ") + operation + ": " + text);
}

}  // namespace

void CSha256::ContextFree::operator()(evp_md_ctx_st* context) const {
  EVP_MD_CTX_free(context);
}

CSha256::CSha256() : context_(EVP_MD_CTX_new()) {
  if (!context_) ThrowDigestError("EVP_MD_CTX_new");
  if (EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    ThrowDigestError("EVP_DigestInit_ex");
  }
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* data, size_t size) {
  if (finished_) throw qo::exception_t("SHA-256: update after the digest");
  if (EVP_DigestUpdate(context_.get(), data, size) != 1) {
    ThrowDigestError("EVP_DigestUpdate");
  }
}

std::string CSha256::Finish() {
  if (finished_) throw qo::exception_t("SHA-256: digest taken twice");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest, &size) != 1 ||
      size != kDigestBytes) {
    ThrowDigestError("EVP_DigestFinal_ex");
  }
  finished_ = true;
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(kHexDigits);
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  CSha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.Finish();
}
