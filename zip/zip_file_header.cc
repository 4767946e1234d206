#include "zip/zip_file_header.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "zip/zip_exception.h"
#include "zip/zip_records.h"
#include "zip/zip_storage.h"

namespace zr = zip_records;

// ---------------------------------------------------------------------------
// CZipExtraField

uint32_t CZipExtraField::GetTotalSize() const {
  uint32_t total = 0;
  for (const Record& r : m_records) {
    total += 4 + static_cast<uint32_t>(r.data.size());
  }
  return total;
}

void CZipExtraField::RemoveInternalHeaders() {
  m_records.erase(
      std::remove_if(m_records.begin(), m_records.end(),
                     [](const Record& r) { return IsInternal(r.id); }),
      m_records.end());
}

void CZipExtraField::Write(unsigned char* out) const {
  zr::Writer w(out);
  for (const Record& r : m_records) {
    w.U16(r.id);
    w.U16(static_cast<uint16_t>(r.data.size()));
    w.Bytes(r.data.data(), r.data.size());
  }
}

// ---------------------------------------------------------------------------
// CZipFileHeader

CZipFileHeader::CZipFileHeader()
    : m_uVersionMadeBy(zr::kVersionSpec),
      m_uVersionNeeded(0),
      m_uFlag(0),
      m_uMethod(8),
      m_uModTime(0),
      m_uModDate(0),
      m_uCrc32(0),
      m_uComprSize(0),
      m_uUncomprSize(0),
      m_uDiskStart(0),
      m_uInternalAttr(0),
      m_uLocalComprSize(0),
      m_uLocalUncomprSize(0),
      m_uOffset(0),
      m_uExternalAttr(0),
      m_uEncryptionMethod(255),
      m_bIgnoreCrc32(false),
      m_uLocalHeaderSize(0),
      m_pCentralDir(nullptr),
      m_state(0),
      m_iSystemCompatibility(zr::kSystemUnix) {}

CZipFileHeader::CZipFileHeader(const CZipFileHeader& other) = default;
CZipFileHeader& CZipFileHeader::operator=(const CZipFileHeader& other) =
    default;
CZipFileHeader::~CZipFileHeader() = default;

void CZipFileHeader::PrepareForWrite(int level, bool segmented) {
  m_uInternalAttr = 0;
  m_uVersionMadeBy = zr::kVersionSpec;
  m_uCrc32 = 0;
  m_uComprSize = 0;
  m_uUncomprSize = 0;
  m_uFlag = 0;
  if (m_uMethod == 8) {
    switch (level) {
      case 1:
        m_uFlag |= 6;  // super fast
        break;
      case 2:
        m_uFlag |= 4;  // fast
        break;
      case 8:
      case 9:
        m_uFlag |= 2;  // maximum
        break;
      default:
        break;
    }
  }
  // Standard encryption (method 0) would need a data descriptor, as would a
  // segmented archive; neither happens in this system.
  if (segmented || m_uEncryptionMethod == 0) m_uFlag |= flagDescriptor;
  if (IsEncrypted()) m_uFlag |= flagEncrypted;
  m_uLocalComprSize += 0;  // no encryption header
  m_uVersionNeeded = IsDirectory() ? zr::kVersionNeededDir : zr::kVersionNeeded;
}

void CZipFileHeader::CheckLengths(const CZipExtraField& extra,
                                  const CZipStorage& storage) const {
  if (GetEncodedNameLength() > zr::kMaxFieldLength ||
      m_comment.size() > zr::kMaxFieldLength ||
      extra.GetTotalSize() > zr::kMaxFieldLength) {
    CZipException::Throw(CZipException::tooLongData,
                         storage.GetArchivePath().c_str());
  }
}

void CZipFileHeader::WriteLocalHeader(CZipStorage& storage) {
  const bool descriptor = IsDataDescriptor();
  EncodeFileName();
  CheckLengths(m_aLocalExtraData, storage);
  const uint32_t name_len = m_fileNameBuffer.GetSize();
  const uint32_t extra_len = m_aLocalExtraData.GetTotalSize();
  const uint32_t size =
      static_cast<uint32_t>(zr::kLocalHeaderSize) + name_len + extra_len;

  std::vector<unsigned char> record(size);
  zr::Writer w(record.data());
  w.U32(zr::kLocalSignature);
  w.U16(m_uVersionNeeded);
  w.U16(m_uFlag);
  w.U16(m_uMethod);
  w.U16(m_uModTime);
  w.U16(m_uModDate);
  w.U32(descriptor ? 0 : m_uCrc32);
  w.U32(descriptor ? 0 : m_uLocalComprSize);
  w.U32(descriptor ? 0 : m_uLocalUncomprSize);
  w.U16(static_cast<uint16_t>(name_len));
  w.U16(static_cast<uint16_t>(extra_len));
  w.Bytes(m_fileNameBuffer.GetBuffer(), name_len);
  m_aLocalExtraData.Write(record.data() + w.Written());

  storage.Write(record.data(), size, true);
  m_uLocalHeaderSize = size;
  m_uDiskStart = storage.GetCurrentVolume();
  m_uOffset = static_cast<uint32_t>(storage.GetPosition() - size);
}

void CZipFileHeader::UpdateLocalHeader(CZipStorage& storage, bool with_time) {
  storage.Flush();
  CZipAbstractFile* file = storage.GetFile();
  const uint64_t here = file->GetPosition();
  m_uLocalComprSize = m_uComprSize;
  m_uLocalUncomprSize = m_uUncomprSize;
  unsigned char
      patch[zr::kLocalCrcOffset - zr::kLocalTimeOffset + zr::kLocalPatchSize];
  zr::Writer w(patch);
  if (with_time) {
    w.U16(m_uModTime);
    w.U16(m_uModDate);
  }
  w.U32(m_uCrc32);
  w.U32(m_uLocalComprSize);
  w.U32(m_uLocalUncomprSize);
  const size_t offset = with_time ? zr::kLocalTimeOffset : zr::kLocalCrcOffset;
  storage.Seek(static_cast<uint64_t>(m_uOffset) + offset);
  file->Write(patch, static_cast<uint32_t>(w.Written()));
  file->Seek(static_cast<int64_t>(here), CZipAbstractFile::begin);
}

void CZipFileHeader::WriteDataDescriptor(CZipStorage& storage) {
  unsigned char record[zr::kDescriptorSignedSize];
  zr::Writer w(record);
  w.U32(zr::kDescriptorSignature);
  w.U32(m_uCrc32);
  w.U32(m_uComprSize);
  w.U32(m_uUncomprSize);
  storage.Write(record, sizeof(record), true);
}

uint32_t CZipFileHeader::WriteCentralHeader(CZipStorage& storage) {
  EncodeFileName();
  CheckLengths(m_aCentralExtraData, storage);
  const uint32_t name_len = m_fileNameBuffer.GetSize();
  const uint32_t extra_len = m_aCentralExtraData.GetTotalSize();
  const uint32_t comment_len = static_cast<uint32_t>(m_comment.size());
  const uint32_t size = static_cast<uint32_t>(zr::kCentralHeaderSize) +
                        name_len + extra_len + comment_len;

  std::vector<unsigned char> record(size);
  zr::Writer w(record.data());
  w.U32(zr::kCentralSignature);
  w.U16(GetVersionMadeBy());
  w.U16(m_uVersionNeeded);
  w.U16(m_uFlag);
  w.U16(m_uMethod);
  w.U16(m_uModTime);
  w.U16(m_uModDate);
  w.U32(m_uCrc32);
  w.U32(m_uComprSize);
  w.U32(m_uUncomprSize);
  w.U16(static_cast<uint16_t>(name_len));
  w.U16(static_cast<uint16_t>(extra_len));
  w.U16(static_cast<uint16_t>(comment_len));
  w.U16(m_uDiskStart);
  w.U16(m_uInternalAttr);
  w.U32(m_uExternalAttr);
  w.U32(m_uOffset);
  w.Bytes(m_fileNameBuffer.GetBuffer(), name_len);
  m_aCentralExtraData.Write(record.data() + w.Written());
  std::memcpy(record.data() + w.Written() + extra_len, m_comment.data(),
              comment_len);

  storage.Write(record.data(), size, true);
  return size;
}

void CZipFileHeader::SetTime(time_t t) {
  struct tm broken;
  if (localtime_r(&t, &broken) == nullptr) {
    m_uModDate = 33;  // 1 January 1980
    m_uModTime = 0;
    return;
  }
  const int year = broken.tm_year + 1900;
  const int year_field = year <= 1980 ? 0 : year - 1980;
  m_uModDate = static_cast<uint16_t>(year_field * 512 +
                                     (broken.tm_mon + 1) * 32 + broken.tm_mday);
  m_uModTime = static_cast<uint16_t>(broken.tm_hour * 2048 +
                                     broken.tm_min * 32 + broken.tm_sec / 2);
}

time_t CZipFileHeader::GetTime() const {
  struct tm broken;
  std::memset(&broken, 0, sizeof(broken));
  broken.tm_year = (m_uModDate >> 9) + 80;
  broken.tm_mon = ((m_uModDate >> 5) & 15) - 1;
  broken.tm_mday = m_uModDate & 31;
  broken.tm_hour = m_uModTime >> 11;
  broken.tm_min = (m_uModTime >> 5) & 63;
  broken.tm_sec = (m_uModTime & 31) * 2;
  broken.tm_isdst = -1;
  return mktime(&broken);
}

void CZipFileHeader::SetSystemAttributes(uint32_t attributes) {
  m_uExternalAttr = (attributes & 0xF1FF) << 16;
  if (S_ISDIR(attributes & S_IFMT)) m_uExternalAttr |= 0x10;
}

std::string CZipFileHeader::PredictFileName(const std::string& path,
                                            bool full_path) {
  if (!full_path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }
  size_t start = path.find_first_not_of("/\\");
  return start == std::string::npos ? std::string() : path.substr(start);
}

void CZipFileHeader::SetFileName(const std::string& name) {
  m_fileName = name;
  m_fileNameBuffer.Release();
}

void CZipFileHeader::SetComment(const std::string& comment) {
  m_comment = comment;
}

void CZipFileHeader::EncodeFileName() {
  m_fileNameBuffer.Allocate(
      static_cast<uint32_t>(std::min<size_t>(m_fileName.size(), UINT32_MAX)));
  char* out = m_fileNameBuffer.GetBuffer();
  for (uint32_t i = 0; i < m_fileNameBuffer.GetSize(); ++i) {
    out[i] = m_fileName[i] == '\\' ? '/' : m_fileName[i];
  }
}

size_t CZipFileHeader::GetEncodedNameLength() const {
  return m_fileName.size();  // encoding maps byte for byte
}

bool CZipFileHeader::IsDirectory() const {
  if (m_uExternalAttr & 0x10) return true;
  return S_ISDIR((m_uExternalAttr >> 16) & S_IFMT);
}

uint32_t CZipFileHeader::GetLocalSize() const {
  return static_cast<uint32_t>(zr::kLocalHeaderSize + GetEncodedNameLength() +
                               m_aLocalExtraData.GetTotalSize());
}

uint32_t CZipFileHeader::GetCentralSize() const {
  return static_cast<uint32_t>(zr::kCentralHeaderSize + GetEncodedNameLength() +
                               m_aCentralExtraData.GetTotalSize() +
                               m_comment.size());
}
