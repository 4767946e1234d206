#include "zip/zip_compressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "zip/zip_exception.h"
#include "zip/zip_file_header.h"
#include "zip/zip_storage.h"

// ---------------------------------------------------------------------------
// CZipCompressor

CZipCompressor::COptions::~COptions() = default;

CZipCompressor::~CZipCompressor() = default;

CZipCompressor* CZipCompressor::CreateCompressor(uint16_t method,
                                                 CZipStorage* storage) {
  if (method == methodStore || method == methodDeflate) {
    return new Korvel::CDeflateCompressor(storage);
  }
  return nullptr;
}

int CZipCompressor::MapZlibError(int zlib_result) const {
  return ZlibCause(zlib_result);
}

int CZipCompressor::ZlibCause(int zlib_result) {
  switch (zlib_result) {
    case Z_OK:
    case Z_NEED_DICT:
      return zlib_result == Z_OK ? CZipException::genericError
                                 : CZipException::needDict;
    case Z_STREAM_END:
      return CZipException::streamEnd;
    case Z_ERRNO:
      return CZipException::errNo;
    case Z_STREAM_ERROR:
      return CZipException::streamError;
    case Z_DATA_ERROR:
      return CZipException::dataError;
    case Z_MEM_ERROR:
      return CZipException::memError;
    case Z_BUF_ERROR:
      return CZipException::bufError;
    case Z_VERSION_ERROR:
      return CZipException::versionError;
    default:
      return CZipException::genericError;
  }
}

bool CZipCompressor::IsAcceptableZlibResult(int zlib_result) const {
  return zlib_result == Z_OK || zlib_result == Z_NEED_DICT;
}

void CZipCompressor::ThrowError(int zlib_result) const {
  const bool open = m_pStorage != nullptr && !m_pStorage->IsClosed();
  CZipException::Throw(MapZlibError(zlib_result),
                       open ? m_pStorage->GetArchivePath().c_str() : "");
}

void CZipCompressor::FlushWriteBuffer() {
  // A cryptograph would encrypt the waiting bytes here; none in this system.
  uint32_t n = m_uComprLeft;
  m_uComprLeft = 0;
  m_pStorage->Write(m_pBuffer.GetBuffer(), n, false);
}

namespace Korvel {

// ---------------------------------------------------------------------------
// CBaseLibCompressor

CBaseLibCompressor::CBaseLibCompressor(CZipStorage* storage)
    : CZipCompressor(storage) {
  // A deflate stream holds five blocks; reserving room keeps the allocation
  // function from needing memory for the list itself.
  m_list.reserve(8);
}

CBaseLibCompressor::~CBaseLibCompressor() { EmptyPtrList(); }

voidpf CBaseLibCompressor::_zipalloc(voidpf opaque, uInt items, uInt size) {
  const size_t bytes = static_cast<size_t>(items) * size;
  if (size != 0 && bytes / size != items) return Z_NULL;
  unsigned char* block = new (std::nothrow) unsigned char[bytes];
  if (block == nullptr) return Z_NULL;
  if (opaque != nullptr) {
    auto* list = static_cast<std::vector<void*>*>(opaque);
    try {
      list->push_back(block);
    } catch (...) {  // no exception may cross zlib's C frames
      delete[] block;
      return Z_NULL;
    }
  }
  return block;
}

void CBaseLibCompressor::_zipfree(voidpf opaque, voidpf address) {
  if (opaque != nullptr) {
    auto* list = static_cast<std::vector<void*>*>(opaque);
    auto it = std::find(list->begin(), list->end(), address);
    if (it != list->end()) list->erase(it);
  }
  delete[] static_cast<unsigned char*>(address);
}

void CBaseLibCompressor::EmptyPtrList() {
  for (void* block : m_list) delete[] static_cast<unsigned char*>(block);
  m_list.clear();
}

// ---------------------------------------------------------------------------
// CDeflateStream

CDeflateStream::CDeflateStream(alloc_func zalloc, free_func zfree) {
  std::memset(&m_stream, 0, sizeof(m_stream));
  m_stream.zalloc = zalloc;
  m_stream.zfree = zfree;
}

int CDeflateStream::Init(int level, voidpf opaque) {
  End();
  m_stream.opaque = opaque;
  int result =
      deflateInit2(&m_stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  m_bActive = result == Z_OK;
  return result;
}

int CDeflateStream::End() {
  if (!m_bActive) return Z_OK;
  m_bActive = false;
  return deflateEnd(&m_stream);
}

// ---------------------------------------------------------------------------
// CDeflateCompressor

CDeflateCompressor::CDeflateCompressor(CZipStorage* storage)
    : CBaseLibCompressor(storage), m_stream(_zipalloc, _zipfree) {}

CDeflateCompressor::~CDeflateCompressor() {
  m_stream.End();  // before the base class frees what is still listed
}

void CDeflateCompressor::UpdateOptions(
    const CZipCompressor::COptions* options) {
  if (options == nullptr || options->GetType() != GetOptions()->GetType()) {
    return;
  }
  const auto* deflate = static_cast<const COptions*>(options);
  m_options.m_iBufferSize = deflate->m_iBufferSize;
  m_options.m_bDetectLibMemoryLeaks = deflate->m_bDetectLibMemoryLeaks;
  m_options.m_bCheckLastBlock = deflate->m_bCheckLastBlock;
}

void CDeflateCompressor::BeginCompression(int level, CZipFileHeader* header) {
  const uint32_t size = m_options.m_iBufferSize == 0
                            ? COptions::kDefaultBufferSize
                            : m_options.m_iBufferSize;
  m_pBuffer.Allocate(size);
  m_uComprLeft = 0;
  m_pFile = header;
  m_uMethod = header->m_uMethod;

  z_stream& s = m_stream.Get();
  s.avail_in = 0;
  s.avail_out = size;
  s.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
  s.total_in = 0;
  s.total_out = 0;
  if (IsDeflating()) {
    int result = m_stream.Init(
        level, m_options.m_bDetectLibMemoryLeaks ? &m_list : nullptr);
    CheckForError(result);
  }
}

void CDeflateCompressor::Compress(const void* data, uint32_t size) {
  z_stream& s = m_stream.Get();
  s.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  s.avail_in = size;
  m_pFile->m_uCrc32 = static_cast<uint32_t>(
      crc32(m_pFile->m_uCrc32, static_cast<const Bytef*>(data), size));

  const uint32_t buffer_size = m_pBuffer.GetSize();
  while (s.avail_in > 0) {
    if (s.avail_out == 0) {
      FlushWriteBuffer();
      s.avail_out = buffer_size;
      s.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
    }
    const uLong before = s.total_out;
    if (IsDeflating()) {
      CheckForError(deflate(&s, Z_NO_FLUSH));
    } else {
      const uInt n = std::min(s.avail_in, s.avail_out);
      std::memcpy(s.next_out, s.next_in, n);
      s.next_in += n;
      s.next_out += n;
      s.avail_in -= n;
      s.avail_out -= n;
      s.total_in += n;
      s.total_out += n;
    }
    m_uComprLeft += static_cast<uint32_t>(s.total_out - before);
  }
}

void CDeflateCompressor::EndCompression(bool after_exception) {
  z_stream& s = m_stream.Get();
  s.avail_in = 0;
  if (after_exception) {
    // Nothing more is written. The stream is ended (its result does not
    // matter), and whatever zlib still holds in the list is freed.
    m_stream.End();
    EmptyPtrList();
    m_pBuffer.Release();
    m_uComprLeft = 0;
    return;
  }
  if (IsDeflating()) {
    const uint32_t buffer_size = m_pBuffer.GetSize();
    int result;
    do {
      if (s.avail_out == 0) {
        FlushWriteBuffer();
        s.avail_out = buffer_size;
        s.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
      }
      const uLong before = s.total_out;
      result = deflate(&s, Z_FINISH);
      m_uComprLeft += static_cast<uint32_t>(s.total_out - before);
    } while (result == Z_OK);
    if (result == Z_STREAM_END) result = Z_OK;
    CheckForError(result);
  }
  if (m_uComprLeft > 0) FlushWriteBuffer();
  if (IsDeflating()) CheckForError(m_stream.End());
  m_pFile->m_uComprSize += static_cast<uint32_t>(s.total_out);
  m_pFile->m_uUncomprSize = static_cast<uint32_t>(s.total_in);
  EmptyPtrList();
  m_pBuffer.Release();
}

}  // namespace Korvel
