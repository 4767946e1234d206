// Reads host and port out of a stringified IOR, so that tests can build
// corbaloc addresses for servers whose port the system chose.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/runtime/corba/probe.h"

namespace probe {

namespace {

constexpr uint32_t kTagInternetIop = 0;

// A CDR encapsulation: alignment counts from its first byte, which holds the
// byte order.
class cdr_reader_t {
 public:
  cdr_reader_t(const std::vector<uint8_t>& bytes, size_t begin, size_t end)
      : bytes_(bytes), base_(begin), pos_(begin + 1), end_(end) {
    ok_ = begin < end;
    little_ = ok_ && bytes_[begin] == 1;
  }

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  void skip(size_t n) { take(n); }

  uint32_t ulong() { return number(4); }
  uint16_t ushort() { return static_cast<uint16_t>(number(2)); }
  std::string text() {
    uint32_t length = ulong();
    size_t at = take(length);
    if (!ok_ || length == 0) return std::string();
    return std::string(bytes_.begin() + at, bytes_.begin() + at + length - 1);
  }

 private:
  uint32_t number(size_t size) {
    pos_ = base_ + (pos_ - base_ + size - 1) / size * size;
    size_t at = take(size);
    if (!ok_) return 0;
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) {
      size_t k = little_ ? size - 1 - i : i;
      value = (value << 8) | bytes_[at + k];
    }
    return value;
  }
  size_t take(size_t n) {
    size_t at = pos_;
    if (pos_ + n > end_) ok_ = false;
    pos_ += n;
    return at;
  }

  const std::vector<uint8_t>& bytes_;
  size_t base_;
  size_t pos_;
  size_t end_;
  bool ok_;
  bool little_ = false;
};

bool decode_hex(const std::string& hex, std::vector<uint8_t>& out) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
      return false;
    }
    out.push_back(
        static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return true;
}

}  // namespace

bool ior_address(const std::string& ior, std::string& host, uint16_t& port) {
  if (ior.compare(0, 4, "IOR:") != 0) return false;
  std::vector<uint8_t> bytes;
  if (!decode_hex(ior.substr(4), bytes)) return false;
  cdr_reader_t reader(bytes, 0, bytes.size());
  reader.text();  // type id
  uint32_t profiles = reader.ulong();
  for (uint32_t i = 0; i < profiles && reader.ok(); ++i) {
    uint32_t tag = reader.ulong();
    uint32_t length = reader.ulong();
    size_t begin = reader.pos();
    reader.skip(length);
    if (!reader.ok()) return false;
    if (tag != kTagInternetIop) continue;
    cdr_reader_t body(bytes, begin, begin + length);
    body.skip(2);  // GIOP version
    host = body.text();
    port = body.ushort();
    return body.ok();
  }
  return false;
}

std::string corbaloc_of(const std::string& ior, const std::string& key) {
  std::string host;
  uint16_t port = 0;
  if (!ior_address(ior, host, port)) return std::string();
  return "corbaloc:iiop:" + host + ":" + std::to_string(port) + "/" + key;
}

}  // namespace probe
