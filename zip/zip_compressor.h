// Compression and checksums: CZipCompressor with its options,
// Korvel::CBaseLibCompressor (tracking of the memory zlib allocates) and
// Korvel::CDeflateCompressor (stored and raw-deflated entries over zlib).
// Only compression is built; decompression is not part of this system, and
// neither is encryption, so no cryptograph takes part.
#ifndef KRTLOGS_ZIP_ZIP_COMPRESSOR_H_
#define KRTLOGS_ZIP_ZIP_COMPRESSOR_H_

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "zip/zip_auto_buffer.h"

class CZipFileHeader;
class CZipStorage;

class CZipCompressor {
 public:
  enum CompressionMethod : uint16_t { methodStore = 0, methodDeflate = 8 };
  enum OptionsType { typeDeflate = 1 };

  class COptions {
   public:
    static constexpr uint32_t kDefaultBufferSize = 0x20000;  // 128 KiB
    COptions() = default;
    COptions(const COptions&) = default;
    COptions& operator=(const COptions&) = default;
    virtual ~COptions();
    virtual int GetType() const = 0;
    virtual COptions* Clone() const = 0;

    // Output buffer size; 0 also means the default.
    uint32_t m_iBufferSize = kDefaultBufferSize;
  };

  // The CZipException cause of a zlib result (Z_OK gives 100, Z_NEED_DICT
  // 501; neither is ever thrown).
  static int ZlibCause(int zlib_result);

  // A new Korvel::CDeflateCompressor for methods 0 and 8, else null.
  static CZipCompressor* CreateCompressor(uint16_t method,
                                          CZipStorage* storage);

  CZipCompressor(const CZipCompressor&) = delete;
  CZipCompressor& operator=(const CZipCompressor&) = delete;

  virtual bool Supports(uint16_t method) const = 0;
  // Starts an entry whose local header has been written; the method is the
  // header's.
  virtual void BeginCompression(int level, CZipFileHeader* header) = 0;
  // Adds `size` bytes to the entry's CRC and output.
  virtual void Compress(const void* data, uint32_t size) = 0;
  // Finishes the entry: flushes the output and sets the header's CRC and
  // sizes. After an exception it only releases memory and writes nothing.
  virtual void EndCompression(bool after_exception) = 0;
  virtual const COptions* GetOptions() const = 0;
  virtual ~CZipCompressor();
  virtual void UpdateOptions(const COptions* options) = 0;
  virtual int MapZlibError(int zlib_result) const;
  virtual bool IsAcceptableZlibResult(int zlib_result) const;

 protected:
  explicit CZipCompressor(CZipStorage* storage) : m_pStorage(storage) {}

  // Throws the mapped cause unless the result is acceptable.
  void CheckForError(int zlib_result) const {
    if (!IsAcceptableZlibResult(zlib_result)) ThrowError(zlib_result);
  }
  [[noreturn]] void ThrowError(int zlib_result) const;
  // Hands the waiting output bytes to the storage.
  void FlushWriteBuffer();

  CZipStorage* m_pStorage;            // not owned
  CZipAutoBuffer m_pBuffer;           // output buffer, between Begin and End
  CZipFileHeader* m_pFile = nullptr;  // entry being written, not owned
  uint32_t m_uComprLeft = 0;          // output bytes waiting in m_pBuffer
};

namespace Korvel {

class CBaseLibCompressor : public CZipCompressor {
 public:
  class COptions : public CZipCompressor::COptions {
   public:
    // Track the blocks zlib allocates, so that an abandoned stream's memory
    // is freed after an exception.
    bool m_bDetectLibMemoryLeaks = true;
  };

  ~CBaseLibCompressor() override;

  // Blocks handed to zlib and not yet freed, while tracking is on.
  size_t GetTrackedBlockCount() const { return m_list.size(); }

 protected:
  explicit CBaseLibCompressor(CZipStorage* storage);

  // zlib's allocation functions. `opaque` is the block list while tracking
  // is on, else null.
  static voidpf _zipalloc(voidpf opaque, uInt items, uInt size);
  static void _zipfree(voidpf opaque, voidpf address);

  // Frees every block still listed.
  void EmptyPtrList();

  std::vector<void*> m_list;
};

// One zlib deflate stream; its destructor ends the stream when it is still
// initialised, so no path leaves zlib's memory behind.
class CDeflateStream {
 public:
  CDeflateStream(alloc_func zalloc, free_func zfree);
  CDeflateStream(const CDeflateStream&) = delete;
  CDeflateStream& operator=(const CDeflateStream&) = delete;
  ~CDeflateStream() { End(); }

  // deflateInit2 with window bits -15 (raw), memory level 8, strategy 0.
  int Init(int level, voidpf opaque);
  // deflateEnd when initialised; Z_OK otherwise.
  int End();
  bool IsActive() const { return m_bActive; }
  z_stream& Get() { return m_stream; }

 private:
  z_stream m_stream;
  bool m_bActive = false;
};

class CDeflateCompressor : public CBaseLibCompressor {
 public:
  class COptions : public CBaseLibCompressor::COptions {
   public:
    int GetType() const override { return typeDeflate; }
    CZipCompressor::COptions* Clone() const override {
      return new COptions(*this);
    }
    bool m_bCheckLastBlock = true;  // decompression only
  };

  explicit CDeflateCompressor(CZipStorage* storage);
  ~CDeflateCompressor() override;

  bool Supports(uint16_t method) const override {
    return method == methodStore || method == methodDeflate;
  }
  void BeginCompression(int level, CZipFileHeader* header) override;
  void Compress(const void* data, uint32_t size) override;
  void EndCompression(bool after_exception) override;
  const COptions* GetOptions() const override { return &m_options; }
  void UpdateOptions(const CZipCompressor::COptions* options) override;

 private:
  bool IsDeflating() const { return m_uMethod == methodDeflate; }

  COptions m_options;
  uint16_t m_uMethod = methodDeflate;  // of the entry being written
  CDeflateStream m_stream;
};

}  // namespace Korvel

#endif  // KRTLOGS_ZIP_ZIP_COMPRESSOR_H_
