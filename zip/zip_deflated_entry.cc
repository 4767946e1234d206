#include "zip/zip_deflated_entry.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <vector>

#include "zip/zip_archive.h"
#include "zip/zip_block_deflater.h"
#include "zip/zip_compressor.h"
#include "zip/zip_exception.h"
#include "zip/zip_file.h"
#include "zip/zip_file_header.h"
#include "zip/zip_records.h"
#include "zip/zip_whole_deflate.h"

namespace zr = zip_records;

namespace {

// Copies `source` to `out` unchanged and fills the CRC and sizes of `entry`.
void Store(CZipFile& source, CZipFile& out, CZipDeflatedEntry& entry) {
  std::vector<unsigned char> buffer(CZipArchive::kDefaultBufferSize);
  uLong crc = crc32(0, Z_NULL, 0);
  uint64_t total = 0;
  for (;;) {
    const uint32_t n =
        source.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (n == 0) break;
    total += n;
    if (total > zr::kMax32) {
      CZipException::Throw(CZipException::tooBigSize,
                           entry.m_szSourcePath.c_str());
    }
    crc = crc32(crc, buffer.data(), n);
    out.Write(buffer.data(), n);
  }
  entry.m_uCrc32 = static_cast<uint32_t>(crc);
  entry.m_uComprSize = static_cast<uint32_t>(total);
  entry.m_uUncomprSize = static_cast<uint32_t>(total);
}

void Deflate(CZipFile& source, CZipFile& out, CZipCompressionPool& pool,
             CZipDeflatedEntry& entry) {
  CZipBlockDeflater deflater(pool, entry.m_iLevel, out.GetFilePath());
  uint64_t written = 0;
  deflater.Run(
      source, [&](const unsigned char* data, uint32_t size, uint64_t bytes_in) {
        if (bytes_in > zr::kMax32 || written + size > zr::kMax32) {
          CZipException::Throw(CZipException::tooBigSize,
                               entry.m_szSourcePath.c_str());
        }
        out.Write(data, size);
        written += size;
      });
  entry.m_uCrc32 = deflater.GetCrc();
  entry.m_uComprSize = static_cast<uint32_t>(deflater.GetBytesOut());
  entry.m_uUncomprSize = static_cast<uint32_t>(deflater.GetBytesIn());
}

}  // namespace

CZipDeflatedEntry CZipDeflatedEntry::Describe(const std::string& source_path,
                                              int level,
                                              const std::string& error_path) {
  struct stat64 st;
  if (::stat64(source_path.c_str(), &st) != 0) {
    CZipException::Throw(CZipException::fileError, error_path.c_str());
  }
  CZipDeflatedEntry entry;
  entry.m_szSourcePath = source_path;
  entry.m_uAttributes = st.st_mode & 0xF1FF;
  entry.m_tModTime = st.st_mtime;
  if (entry.m_tModTime == static_cast<time_t>(-1)) {
    entry.m_tModTime = time(nullptr);
  }
  if (level < -1 || level > 9) level = -1;
  if (S_ISDIR(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) <= CZipAddRequest::kSmallFileSize) {
    level = 0;
  }
  entry.m_iLevel = level;
  entry.m_uMethod =
      level == 0 ? CZipCompressor::methodStore : CZipCompressor::methodDeflate;
  return entry;
}

CZipDeflatedEntry CZipDeflatedEntry::Compress(const std::string& source_path,
                                              const std::string& deflated_path,
                                              int level,
                                              CZipCompressionPool& pool) {
  CZipDeflatedEntry entry = Describe(source_path, level, source_path);
  CZipFile source;
  if (!entry.IsDirectory()) {
    source.Open(source_path, CZipFile::ModeRead | CZipFile::ShareDenyNone,
                true);
    if (source.GetLength() > zr::kMax32) {
      CZipException::Throw(CZipException::tooBigSize, source_path.c_str());
    }
  }
  // Creating the compressed file truncates it: it must not be the source.
  struct stat64 source_st, out_st;
  if (::stat64(source_path.c_str(), &source_st) == 0 &&
      ::stat64(deflated_path.c_str(), &out_st) == 0 &&
      source_st.st_dev == out_st.st_dev && source_st.st_ino == out_st.st_ino) {
    errno = EINVAL;
    CZipException::Throw(EINVAL, deflated_path.c_str());
  }
  CZipFile out;
  out.Open(deflated_path, CZipFile::ModeWrite | CZipFile::ModeCreate, true);
  try {
    if (entry.IsDirectory()) {
      // Nothing to compress; the empty file keeps the caller's clean-up
      // the same for every entry.
    } else if (entry.m_uMethod == CZipCompressor::methodStore) {
      Store(source, out, entry);
    } else {
      Deflate(source, out, pool, entry);
    }
    out.Close();
  } catch (...) {
    try {
      out.Close();
    } catch (const CZipException&) {
      // The first failure is the one reported.
    }
    ::unlink(deflated_path.c_str());
    throw;
  }
  source.Close();
  return entry;
}

CZipDeflatedEntry CZipDeflatedEntry::CompressWhole(
    int level, const void* data, size_t size, uint32_t attributes, time_t mtime,
    std::vector<unsigned char>& out) {
  if (size > zr::kMax32) CZipException::Throw(CZipException::tooBigSize, "");
  CZipDeflatedEntry entry;
  entry.m_uAttributes = attributes;
  entry.m_tModTime = mtime;
  entry.m_uUncomprSize = static_cast<uint32_t>(size);
  entry.m_uCrc32 = zip_whole::Crc32(0, data, size);
  if (level == 0 || size <= CZipAddRequest::kSmallFileSize) {
    entry.m_uMethod = CZipCompressor::methodStore;
    entry.m_iLevel = 0;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out.assign(p, p + size);
  } else {
    entry.m_uMethod = CZipCompressor::methodDeflate;
    entry.m_iLevel = level < -1 || level > 9 ? -1 : level;
    zip_whole::Deflate(level, data, size, out);
  }
  entry.m_uComprSize = static_cast<uint32_t>(out.size());
  return entry;
}

bool CZipDeflatedEntry::IsDirectory() const {
  return S_ISDIR(m_uAttributes & S_IFMT);
}

void CZipDeflatedEntry::FillTemplate(CZipFileHeader& templ,
                                     const std::string& name) const {
  templ.SetSystemCompatibility(zr::kSystemUnix);
  templ.SetSystemAttributes(m_uAttributes);
  templ.SetFileName(name.empty()
                        ? CZipFileHeader::PredictFileName(m_szSourcePath, true)
                        : name);
  templ.SetTime(m_tModTime);
}
