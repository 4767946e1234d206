// SHA-256 through OpenSSL's EVP interface, fed in pieces. One object per
// stream of bytes; it owns its digest context. Not shared between threads
// (separate objects may be used on separate threads).
#ifndef KRTLOGS_APP_OUTPUT_SHA256_H_
#define KRTLOGS_APP_OUTPUT_SHA256_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

class CSha256 {
 public:
  static constexpr size_t kDigestBytes = 32;
  static constexpr size_t kHexDigits = 2 * kDigestBytes;

  // Throws qo::exception_t when OpenSSL cannot set up the digest.
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything given, lower-case hex. The object is done
  // afterwards: Update and Finish throw qo::exception_t.
  std::string Finish();

 private:
  struct ContextFree {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, ContextFree> context_;
  bool finished_ = false;
};

// The SHA-256 of `bytes`, lower-case hex.
std::string Sha256Hex(std::string_view bytes);

#endif  // KRTLOGS_APP_OUTPUT_SHA256_H_
