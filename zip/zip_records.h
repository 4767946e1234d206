// Byte layouts of the zip records this writer produces (PKWARE APPNOTE)
// and the little-endian helpers that put and get their
// fields. Every record size and field offset is spelled out as the sum of the
// fields before it, so a change to one field shows up in every number.
#ifndef KRTLOGS_ZIP_ZIP_RECORDS_H_
#define KRTLOGS_ZIP_ZIP_RECORDS_H_

#include <cstddef>
#include <cstdint>

namespace zip_records {

// ---------------------------------------------------------------------------
// Little-endian helpers: the only place where multi-byte fields are packed.

inline void PutU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void PutU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  p[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint16_t GetU16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Appends fields one after the other into a caller's buffer.
class Writer {
 public:
  explicit Writer(unsigned char* start) : start_(start), p_(start) {}
  void U16(uint16_t v) {
    PutU16(p_, v);
    p_ += 2;
  }
  void U32(uint32_t v) {
    PutU32(p_, v);
    p_ += 4;
  }
  void Bytes(const void* data, size_t n);
  size_t Written() const { return static_cast<size_t>(p_ - start_); }

 private:
  unsigned char* start_;
  unsigned char* p_;
};

inline void Writer::Bytes(const void* data, size_t n) {
  const unsigned char* src = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) p_[i] = src[i];
  p_ += n;
}

// ---------------------------------------------------------------------------
// Signatures, as the 32-bit little-endian values whose bytes are "PK" x y.

constexpr uint32_t kLocalSignature = 0x04034B50;       // 50 4B 03 04
constexpr uint32_t kCentralSignature = 0x02014B50;     // 50 4B 01 02
constexpr uint32_t kEndSignature = 0x06054B50;         // 50 4B 05 06
constexpr uint32_t kDescriptorSignature = 0x08074B50;  // 50 4B 07 08

// ---------------------------------------------------------------------------
// Local file header; the name follows it directly (no extra field here).

constexpr size_t kLocalCrcOffset = 4 +  // signature
                                   2 +  // version needed to extract
                                   2 +  // general purpose bit flag
                                   2 +  // compression method
                                   2 +  // last modification time
                                   2;   // last modification date
static_assert(kLocalCrcOffset == 14, "local header: CRC at 14");
// Last modification time and date, which precede the CRC.
constexpr size_t kLocalTimeOffset = kLocalCrcOffset - 4;

// CRC-32, compressed size, uncompressed size: the fields patched when an
// entry closes.
constexpr size_t kLocalPatchSize = 4 +  // CRC-32
                                   4 +  // compressed size
                                   4;   // uncompressed size
static_assert(kLocalPatchSize == 12, "local header: 12 patched bytes");

constexpr size_t kLocalHeaderSize =
    kLocalCrcOffset +  // signature .. last modification date
    kLocalPatchSize +  // CRC-32, compressed size, uncompressed size
    2 +                // file name length
    2;                 // extra field length
static_assert(kLocalHeaderSize == 30, "local header: 30 bytes + name");

// ---------------------------------------------------------------------------
// Data descriptor (only with flag bit 3; never in this system).

constexpr size_t kDescriptorSize = 4 +  // CRC-32
                                   4 +  // compressed size
                                   4;   // uncompressed size
constexpr size_t kDescriptorSignedSize =
    4 +               // optional signature 50 4B 07 08
    kDescriptorSize;  // CRC and the two sizes
static_assert(kDescriptorSize == 12 && kDescriptorSignedSize == 16,
              "data descriptor: 12 or 16 bytes");

// ---------------------------------------------------------------------------
// Central directory file header; the name follows it directly.

constexpr size_t kCentralHeaderSize = 4 +  // signature
                                      2 +  // version made by
                                      2 +  // version needed to extract
                                      2 +  // general purpose bit flag
                                      2 +  // compression method
                                      2 +  // last modification time
                                      2 +  // last modification date
                                      4 +  // CRC-32
                                      4 +  // compressed size
                                      4 +  // uncompressed size
                                      2 +  // file name length
                                      2 +  // extra field length
                                      2 +  // file comment length
                                      2 +  // disk number start
                                      2 +  // internal file attributes
                                      4 +  // external file attributes
                                      4;   // relative offset of local header
static_assert(kCentralHeaderSize == 46, "central header: 46 bytes + name");

// ---------------------------------------------------------------------------
// End of central directory record (no comment here).

constexpr size_t kEndRecordSize =
    4 +  // signature
    2 +  // number of this disk
    2 +  // disk where the central directory starts
    2 +  // entries on this disk
    2 +  // total entries
    4 +  // size of the central directory
    4 +  // offset of the central directory
    2;   // comment length
static_assert(kEndRecordSize == 22, "end record: 22 bytes");

// ---------------------------------------------------------------------------
// Field values and limits.

constexpr uint16_t kVersionSpec = 20;       // version made by, low byte: 2.0
constexpr uint16_t kVersionNeeded = 20;     // files: deflate needs 2.0
constexpr uint16_t kVersionNeededDir = 10;  // directory entries: 1.0
constexpr uint8_t kSystemUnix = 3;          // version made by, high byte

// Names, comments and extra fields are stored with 16-bit lengths.
constexpr uint32_t kMaxFieldLength = 0xFFFF;

// The end record counts entries in 16 bits.
constexpr uint32_t kMaxEntries = 0xFFFF;

// The largest value any 32-bit size or offset field may carry. 0xFFFFFFFF
// itself tells readers to look for a Zip64 extra field, which this writer
// never writes, so it is kept out as well: sizes and offsets stay below 4 GiB.
constexpr uint32_t kMax32 = 0xFFFFFFFEu;

// Upper bound of the raw deflate stream zlib makes from `n` bytes with this
// writer's parameters (window bits 15, memory level 8, no flushes until
// Z_FINISH): zlib's own compressBound, which is the tight bound of
// deflateBound plus 6 bytes of zlib wrapper that a raw stream does not have.
constexpr uint64_t DeflateBound(uint64_t n) {
  return n + (n >> 12) + (n >> 14) + (n >> 25) + 13;
}

// ---------------------------------------------------------------------------
// Blocked deflate: one raw deflate stream made of blocks compressed apart.
// Each block is compressed with the input before it as its preset
// dictionary, so that it may refer back as far as deflate ever does.

// Deflate's largest back-reference distance: the preset dictionary of a block.
constexpr uint32_t kDeflateWindowSize = 32 * 1024;

// The input of one block.
constexpr uint32_t kDeflateBlockSize = 128 * 1024;
static_assert(kDeflateBlockSize >= kDeflateWindowSize,
              "a block's dictionary is the tail of the block before it");

// A sync flush ends every block but the last on a byte boundary with an
// empty stored block.
constexpr uint32_t kSyncFlushBound =
    2 +  // up to 7 bits left over, 3 header bits, padding to the byte
    2 +  // LEN = 0
    2;   // NLEN = 0xFFFF

// Upper bound of a blocked stream of `n` bytes: every full block with its
// sync flush, then the last, shorter (possibly empty) one.
constexpr uint64_t BlockedDeflateBound(uint64_t n) {
  return (n / kDeflateBlockSize) *
             (DeflateBound(kDeflateBlockSize) + kSyncFlushBound) +
         DeflateBound(n % kDeflateBlockSize);
}

}  // namespace zip_records

#endif  // KRTLOGS_ZIP_ZIP_RECORDS_H_
