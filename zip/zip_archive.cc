#include "zip/zip_archive.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "zip/zip_block_deflater.h"

namespace zr = zip_records;

namespace {

std::string TrimTrailingSeparators(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) {
    path.pop_back();
  }
  return path;
}

}  // namespace

CZipArchive::CZipArchive() { m_centralDir.Init(this, &m_storage); }

CZipArchive::~CZipArchive() {
  if (m_iFileOpened == entryCompressing && !m_bCompressedEntry &&
      m_pCompressor) {
    m_pCompressor->EndCompression(true);
  }
  if (!m_storage.IsClosed()) {
    try {
      if (m_centralDir.GetCount() == 0) {
        m_storage.Discard(false);
      } else {
        m_storage.Close(false, false);
      }
    } catch (const CZipException&) {
      // The descriptor is released whether close(2) failed or not.
    }
  }
}

void CZipArchive::ThrowError(int cause) const {
  CZipException::Throw(cause, m_storage.GetArchivePath().c_str());
}

bool CZipArchive::Open(const std::string& path, int mode,
                       uint32_t volume_size) {
  if (!IsClosed()) return false;
  // Reading, appending and split archives are not part of this system.
  if (mode != OpenCreate || volume_size != 0) return false;
  m_storage.Open(path, mode, volume_size);
  m_iArchiveSystCompatib = zr::kSystemUnix;
  m_centralDir.Open();
  m_iFileOpened = entryNone;
  return true;
}

bool CZipArchive::OpenDescriptor(int fd, const std::string& path) {
  if (!IsClosed()) return false;
  m_storage.OpenDescriptor(fd, path);
  m_iArchiveSystCompatib = zr::kSystemUnix;
  m_centralDir.Open();
  m_iFileOpened = entryNone;
  return true;
}

bool CZipArchive::AddFile(const std::string& path, const std::string& name,
                          int level, int add_flags, uint32_t buffer_size) {
  CZipAddRequest request;
  request.m_szFilePath = path;
  request.m_szFileNameInZip = name;
  request.m_iComprLevel = level;
  request.m_iSmartLevel = add_flags;
  request.m_nBufSize = buffer_size;
  return AddFile(request);
}

bool CZipArchive::AddFile(CZipAddRequest& request) {
  // The source is named by its path, without trailing separators.
  // Source objects (m_pFile) are not used in this system: refused.
  if (request.m_pFile != nullptr) return false;
  const std::string path = TrimTrailingSeparators(request.m_szFilePath);
  if (path.empty()) return false;

  // The entry records the source's permission bits and time (now, when
  // the system gives none).
  struct stat64 st;
  if (::stat64(path.c_str(), &st) != 0) {
    CZipException::Throw(CZipException::fileError, path.c_str());
  }
  const uint32_t attributes = st.st_mode & 0xF1FF;
  time_t mtime = st.st_mtime;
  if (mtime == static_cast<time_t>(-1)) mtime = time(nullptr);

  // The template header: Unix attributes, the name the entry is stored
  // under, the time.
  CZipFileHeader templ;
  templ.SetSystemCompatibility(zr::kSystemUnix);
  templ.SetSystemAttributes(attributes);
  templ.SetFileName(
      request.m_szFileNameInZip.empty()
          ? CZipFileHeader::PredictFileName(path, request.m_bFullPath)
          : request.m_szFileNameInZip);
  templ.SetTime(mtime);

  // A directory: an entry without data.
  if (templ.IsDirectory()) {
    if (!OpenEntry(templ, 0, nullptr, request.m_uReplaceIndex)) return false;
    CloseEntry();
    return true;
  }

  // The level: an archive set to store, and tiny files, store their data
  // as it is.
  int level = request.m_iComprLevel;
  if (m_uCompressionMethod == CZipCompressor::methodStore) level = 0;
  const bool compressible = level != 0;
  if ((request.m_iSmartLevel & CZipAddRequest::AddFlagStoreSmallFiles) &&
      compressible &&
      static_cast<uint64_t>(st.st_size) <= CZipAddRequest::kSmallFileSize) {
    level = 0;
  }

  // The source's length decides whether the entry fits the 32-bit fields,
  // checked before anything of the entry is written.
  CZipFile source;
  source.Open(path, CZipFile::ModeRead | CZipFile::ShareDenyNone, true);
  const uint64_t length = source.GetLength();
  if (!CanOpenEntry()) {
    source.Close();
    return false;
  }
  // Sizes are 32-bit fields: refuse before anything of the entry is written.
  if (length > m_uMax32) ThrowError(CZipException::tooBigSize);
  templ.m_uLocalUncomprSize = static_cast<uint32_t>(length);
  if (!compressible) templ.m_uLocalComprSize = static_cast<uint32_t>(length);

  // The entry is opened only now that it is known to fit.
  if (!OpenEntry(templ, level, nullptr, request.m_uReplaceIndex)) {
    source.Close();
    return false;
  }

  // The data, in chunks; the file's end shows as a short read.
  const uint32_t chunk =
      request.m_nBufSize == 0 ? kDefaultBufferSize : request.m_nBufSize;
  CZipAutoBuffer buffer(chunk);
  for (;;) {
    uint32_t n = source.Read(buffer.GetBuffer(), chunk);
    if (n > 0) WriteEntry(buffer.GetBuffer(), n);
    if (n < chunk) break;
  }

  // Closing the entry writes its sizes and CRC into the local header.
  CloseEntry();
  source.Close();
  return true;
}

bool CZipArchive::CanOpenEntry() const {
  if (IsClosed() || m_storage.IsReadOnly()) return false;
  if (m_iFileOpened != entryNone) return false;
  return m_centralDir.GetCount() < m_uMaxEntries;
}

void CZipArchive::CheckEntryFits(const CZipFileHeader& templ, uint64_t declared,
                                 uint64_t data_bound) const {
  const uint64_t start = m_centralDir.GetNextEntryOffset();
  const uint64_t data_start = start + templ.GetLocalSize();
  const uint64_t central =
      m_centralDir.GetCentralSize() + templ.GetCentralSize();
  if (declared > m_uMax32 || start > m_uMax32 ||
      data_start + data_bound > m_uMax32 || central > m_uMax32) {
    ThrowError(CZipException::tooBigSize);
  }
}

bool CZipArchive::OpenEntry(CZipFileHeader& templ, int level,
                            const char* source_path, uint16_t replace_index) {
  if (!CanOpenEntry()) return false;
  if (replace_index != kNoIndex) return false;  // replacing: not supported

  if (source_path != nullptr) {
    struct stat64 st;
    if (::stat64(source_path, &st) != 0) {
      CZipException::Throw(CZipException::fileError, source_path);
    }
    time_t mtime = st.st_mtime;
    if (mtime == static_cast<time_t>(-1)) mtime = time(nullptr);
    templ.SetSystemAttributes(st.st_mode & 0xF1FF);
    templ.SetTime(mtime);
  } else if (templ.m_uModDate == 0 && templ.m_uModTime == 0) {
    templ.SetTime(time(nullptr));
  }

  PrepareEntry(templ, level, m_uCompressionMethod);
  if (!SelectCompressor(templ.m_uMethod)) return false;
  const uint64_t declared = templ.IsDirectory() ? 0 : templ.m_uLocalUncomprSize;
  const uint64_t bound = templ.m_uMethod == CZipCompressor::methodDeflate
                             ? zr::DeflateBound(declared)
                             : declared;
  CZipFileHeader* header = WriteEntryHeader(templ, level, declared, bound);
  m_uEntryDataStart =
      static_cast<uint64_t>(header->m_uOffset) + header->GetLocalHeaderSize();
  m_uEntryDeclared = declared;
  m_uEntryBytesIn = 0;
  m_pCompressor->BeginCompression(level, header);
  m_iFileOpened = entryCompressing;
  return true;
}

void CZipArchive::PrepareEntry(CZipFileHeader& templ, int& level,
                               uint16_t method) const {
  const bool directory = templ.IsDirectory();
  std::string name = templ.GetFileName();
  if (directory &&
      (name.empty() || (name.back() != '/' && name.back() != '\\'))) {
    templ.SetFileName(name + "/");
  } else if (name.empty()) {
    char generated[32];
    std::snprintf(generated, sizeof(generated), "file%u",
                  static_cast<unsigned>(m_centralDir.GetCount()));
    templ.SetFileName(generated);
  }

  if (level < -1 || level > 9) level = -1;
  if (level == 0) method = CZipCompressor::methodStore;
  if (method == CZipCompressor::methodStore) level = 0;
  if (directory) {
    level = 0;
    method = CZipCompressor::methodStore;
  }
  templ.m_uMethod = method;
}

CZipFileHeader* CZipArchive::WriteEntryHeader(const CZipFileHeader& templ,
                                              int level, uint64_t declared,
                                              uint64_t data_bound) {
  // Everything that could refuse the entry is checked before any byte of it
  // is written, so the archive stays closable with the entries before it.
  if (templ.GetEncodedNameLength() > zr::kMaxFieldLength ||
      templ.m_aLocalExtraData.GetTotalSize() > zr::kMaxFieldLength ||
      templ.m_aCentralExtraData.GetTotalSize() > zr::kMaxFieldLength) {
    ThrowError(CZipException::tooLongData);
  }
  CheckEntryFits(templ, declared, data_bound);

  CZipFileHeader* header = m_centralDir.AddEntry(templ, kNoIndex, level);
  try {
    header->WriteLocalHeader(m_storage);
  } catch (...) {
    m_centralDir.RemoveLastEntry();
    throw;
  }
  return header;
}

void CZipArchive::FinishEntry(uint32_t crc, uint64_t compressed,
                              uint64_t uncompressed) {
  CZipFileHeader* header = m_centralDir.GetOpenedFile();
  header->m_uCrc32 = crc;
  header->m_uComprSize = static_cast<uint32_t>(compressed);
  header->m_uUncomprSize = static_cast<uint32_t>(uncompressed);
  m_centralDir.CloseEntry();
}

bool CZipArchive::AddFileParallel(const std::string& path,
                                  const std::string& name, int level,
                                  CZipCompressionPool& pool) {
  const std::string source_path = TrimTrailingSeparators(path);
  if (source_path.empty()) return false;
  if (m_uCompressionMethod == CZipCompressor::methodStore) level = 0;
  const CZipDeflatedEntry entry =
      CZipDeflatedEntry::Describe(source_path, level, source_path);
  if (entry.m_uMethod == CZipCompressor::methodStore) {
    return AddFile(path, name, level);
  }

  CZipFile source;
  source.Open(source_path, CZipFile::ModeRead | CZipFile::ShareDenyNone, true);
  const uint64_t length = source.GetLength();
  if (!CanOpenEntry()) return false;
  if (length > m_uMax32) ThrowError(CZipException::tooBigSize);
  CZipFileHeader templ;
  entry.FillTemplate(templ, name);
  templ.m_uLocalUncomprSize = static_cast<uint32_t>(length);
  int entry_level = entry.m_iLevel;
  PrepareEntry(templ, entry_level, CZipCompressor::methodDeflate);
  const CZipFileHeader* header = WriteEntryHeader(
      templ, entry_level, length, zr::BlockedDeflateBound(length));
  const uint64_t data_start =
      static_cast<uint64_t>(header->m_uOffset) + header->GetLocalHeaderSize();
  try {
    CZipBlockDeflater deflater(pool, entry_level, GetArchivePath());
    uint64_t written = 0;
    // The source may have grown since its length was checked.
    deflater.Run(source, [&](const unsigned char* data, uint32_t size,
                             uint64_t bytes_in) {
      if (bytes_in > m_uMax32 || data_start + written + size > m_uMax32) {
        ThrowError(CZipException::tooBigSize);
      }
      m_storage.Write(data, size, false);
      written += size;
    });
    FinishEntry(deflater.GetCrc(), deflater.GetBytesOut(),
                deflater.GetBytesIn());
  } catch (...) {
    m_centralDir.AbandonEntry();
    throw;
  }
  source.Close();
  return true;
}

bool CZipArchive::AddDeflated(const CZipDeflatedEntry& entry,
                              const std::string& deflated_path,
                              const std::string& name) {
  if (entry.IsDirectory()) {
    CZipFileHeader templ;
    entry.FillTemplate(templ, name);
    if (!OpenEntry(templ, 0, nullptr, kNoIndex)) return false;
    CloseEntry();
    return true;
  }

  CZipFile data;
  data.Open(deflated_path, CZipFile::ModeRead | CZipFile::ShareDenyNone, true);
  const bool stored = entry.m_uMethod == CZipCompressor::methodStore;
  const bool consistent =
      stored ? entry.m_iLevel == 0 && entry.m_uComprSize == entry.m_uUncomprSize
             : entry.m_uMethod == CZipCompressor::methodDeflate &&
                   entry.m_iLevel != 0;
  if (!consistent || data.GetLength() != entry.m_uComprSize) {
    CZipException::Throw(CZipException::badZipFile, deflated_path.c_str());
  }
  if (!BeginCompressed(entry, name)) return false;
  std::vector<unsigned char> buffer(kDefaultBufferSize);
  uint32_t left = entry.m_uComprSize;
  while (left > 0) {
    uint32_t n;
    try {
      n = data.Read(buffer.data(),
                    std::min<uint32_t>(left, kDefaultBufferSize));
    } catch (...) {
      AbandonCompressed();
      throw;
    }
    // Shorter than it was a moment ago: not the file the record describes.
    if (n == 0) {
      AbandonCompressed();
      CZipException::Throw(CZipException::badZipFile, deflated_path.c_str());
    }
    WriteCompressed(buffer.data(), n);
    left -= n;
  }
  EndCompressed(entry);
  data.Close();
  return true;
}

bool CZipArchive::BeginCompressed(const CZipDeflatedEntry& entry,
                                  const std::string& name) {
  if (!CanOpenEntry()) return false;
  CZipFileHeader templ;
  entry.FillTemplate(templ, name);
  const bool stored = entry.m_uMethod == CZipCompressor::methodStore;
  templ.m_uLocalUncomprSize = entry.m_uUncomprSize;
  if (stored) templ.m_uLocalComprSize = entry.m_uComprSize;
  int level = entry.m_iLevel;
  PrepareEntry(templ, level, entry.m_uMethod);
  const CZipFileHeader* header =
      WriteEntryHeader(templ, level, entry.m_uUncomprSize, entry.m_uComprSize);
  m_uEntryDataStart =
      static_cast<uint64_t>(header->m_uOffset) + header->GetLocalHeaderSize();
  m_uEntryBytesIn = 0;
  m_iFileOpened = entryCompressing;
  m_bCompressedEntry = true;
  return true;
}

void CZipArchive::WriteCompressed(const void* data, size_t size) {
  if (m_iFileOpened != entryCompressing || !m_bCompressedEntry) {
    ThrowError(CZipException::internalError);
  }
  if (m_uEntryDataStart + m_uEntryBytesIn + size > m_uMax32) {
    AbandonCompressed();
    ThrowError(CZipException::tooBigSize);
  }
  const unsigned char* p = static_cast<const unsigned char*>(data);
  try {
    // The storage takes 32-bit counts.
    while (size > 0) {
      const uint32_t n =
          static_cast<uint32_t>(std::min<size_t>(size, kDefaultBufferSize));
      m_storage.Write(p, n, false);
      m_uEntryBytesIn += n;
      p += n;
      size -= n;
    }
  } catch (...) {
    AbandonCompressed();
    throw;
  }
}

void CZipArchive::EndCompressed(const CZipDeflatedEntry& entry) {
  if (m_iFileOpened != entryCompressing || !m_bCompressedEntry) {
    ThrowError(CZipException::internalError);
  }
  CZipFileHeader* header = m_centralDir.GetOpenedFile();
  if (entry.m_uMethod != header->m_uMethod ||
      entry.m_uComprSize != m_uEntryBytesIn) {
    AbandonCompressed();
    ThrowError(CZipException::badZipFile);
  }
  header->SetSystemAttributes(entry.m_uAttributes);
  header->SetTime(entry.m_tModTime);
  header->m_uCrc32 = entry.m_uCrc32;
  header->m_uComprSize = entry.m_uComprSize;
  header->m_uUncomprSize = entry.m_uUncomprSize;
  try {
    m_centralDir.CloseEntry(/*with_time=*/true);
  } catch (...) {
    AbandonCompressed();
    throw;
  }
  m_iFileOpened = entryNone;
  m_bCompressedEntry = false;
}

void CZipArchive::AbandonCompressed() {
  if (m_iFileOpened != entryCompressing || !m_bCompressedEntry) return;
  m_centralDir.AbandonEntry();
  m_iFileOpened = entryNone;
  m_bCompressedEntry = false;
}

bool CZipArchive::AddCompressed(const CZipDeflatedEntry& entry,
                                const std::string& name, const void* data,
                                size_t size) {
  if (!BeginCompressed(entry, name)) return false;
  WriteCompressed(data, size);
  EndCompressed(entry);
  return true;
}

bool CZipArchive::WriteEntry(const void* data, uint32_t count) {
  if (m_iFileOpened != entryCompressing || m_bCompressedEntry) return false;
  const uint64_t total = m_uEntryBytesIn + count;
  if (total > m_uEntryDeclared) {
    // More data than OpenEntry checked (a source that grew): check again.
    const bool deflated = m_centralDir.GetOpenedFile()->m_uMethod ==
                          CZipCompressor::methodDeflate;
    const uint64_t bound = deflated ? zr::DeflateBound(total) : total;
    if (total > m_uMax32 || m_uEntryDataStart + bound > m_uMax32) {
      ThrowError(CZipException::tooBigSize);
    }
    m_uEntryDeclared = total;
  }
  m_pCompressor->Compress(data, count);
  m_uEntryBytesIn = total;
  return true;
}

bool CZipArchive::CloseEntry(bool after_exception) {
  if (m_iFileOpened != entryCompressing) return false;
  if (m_bCompressedEntry) {
    // Without its final record the entry cannot be whole.
    AbandonCompressed();
    return true;
  }
  if (after_exception) {
    m_pCompressor->EndCompression(true);
    m_centralDir.AbandonEntry();
  } else {
    m_pCompressor->EndCompression(false);
    m_centralDir.CloseEntry();
  }
  m_iFileOpened = entryNone;
  // Auto-flush is off: the central directory waits for Close.
  return true;
}

std::string CZipArchive::Close(int after_exception, bool update_time_stamp) {
  if (IsClosed()) return std::string();
  std::string path;
  time_t newest = 0;
  if (after_exception == afNoException) {
    if (m_iFileOpened == entryCompressing) CloseEntry(false);
    if (update_time_stamp) {
      for (size_t i = 0; i < m_centralDir.GetCount(); ++i) {
        time_t t = m_centralDir[i]->GetTime();
        if (t > newest) newest = t;
      }
    }
    m_centralDir.Write();
    m_centralDir.Close();
    path = m_storage.Close(true, true);
  } else {
    // Nothing more reaches the file, not even a truncation.
    if (m_iFileOpened == entryCompressing && !m_bCompressedEntry) {
      m_pCompressor->EndCompression(true);
    }
    m_bCompressedEntry = false;
    // An archive no entry reached is no archive: the file Open made goes.
    const bool empty = m_centralDir.GetCount() == 0;
    m_centralDir.Close();
    path = empty ? m_storage.Discard(true) : m_storage.Close(false, true);
    update_time_stamp = false;
  }
  m_iFileOpened = entryNone;
  if (update_time_stamp && newest > 0) {
    struct timeval times[2] = {{newest, 0}, {newest, 0}};
    ::utimes(path.c_str(), times);
  }
  return path;
}

bool CZipArchive::SelectCompressor(uint16_t method) {
  if (!m_pCompressor || !m_pCompressor->Supports(method)) {
    m_pCompressor.reset(CZipCompressor::CreateCompressor(method, &m_storage));
    if (!m_pCompressor) return false;
  }
  const CZipCompressor::COptions* current = m_pCompressor->GetOptions();
  if (current != nullptr) {
    auto it = m_compressorsOptions.find(current->GetType());
    if (it != m_compressorsOptions.end()) {
      m_pCompressor->UpdateOptions(it->second.get());
    }
  }
  return true;
}

bool CZipArchive::SetCompressionMethod(uint16_t method) {
  if (m_iFileOpened != entryNone) return false;
  if (method != CZipCompressor::methodStore &&
      method != CZipCompressor::methodDeflate) {
    return false;
  }
  m_uCompressionMethod = method;
  return true;
}

void CZipArchive::SetCompressionOptions(
    const CZipCompressor::COptions* options) {
  if (options == nullptr) return;
  m_compressorsOptions[options->GetType()].reset(options->Clone());
}
