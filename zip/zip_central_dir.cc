#include "zip/zip_central_dir.h"

#include "zip/zip_exception.h"
#include "zip/zip_records.h"
#include "zip/zip_storage.h"

namespace zr = zip_records;

CZipCentralDir::CZipCentralDir() = default;
CZipCentralDir::~CZipCentralDir() = default;

void CZipCentralDir::Init(CZipArchive* archive, CZipStorage* storage) {
  m_pArchive = archive;
  m_pStorage = storage;
}

void CZipCentralDir::Open() {
  Close();
  m_info = CInfo();
}

CZipFileHeader* CZipCentralDir::AddEntry(const CZipFileHeader& templ,
                                         uint16_t /*replace_index*/,
                                         int level) {
  if (m_info.m_bInArchive) {
    // A central directory already on disk gives way to the new entry.
    m_pStorage->Flush();
    m_pStorage->GetFile()->SetLength(m_info.m_uOffset);
    m_info.m_bInArchive = false;
  } else {
    m_pStorage->Flush();
  }

  auto header = std::make_unique<CZipFileHeader>();
  header->m_uMethod = templ.m_uMethod;
  header->m_uModTime = templ.m_uModTime;
  header->m_uModDate = templ.m_uModDate;
  header->m_uExternalAttr = templ.m_uExternalAttr;
  header->m_uLocalComprSize = templ.m_uLocalComprSize;
  header->m_uLocalUncomprSize = templ.m_uLocalUncomprSize;
  header->SetFileName(templ.GetFileName());
  header->m_comment = templ.m_comment;
  header->m_aLocalExtraData = templ.m_aLocalExtraData;
  header->m_aLocalExtraData.RemoveInternalHeaders();
  header->m_aCentralExtraData = templ.m_aCentralExtraData;
  header->m_aCentralExtraData.RemoveInternalHeaders();
  header->m_iSystemCompatibility = templ.m_iSystemCompatibility;
  header->m_uEncryptionMethod = templ.m_uEncryptionMethod;
  header->m_pCentralDir = this;
  header->PrepareForWrite(level, m_pStorage->IsSegmented());

  m_uCentralSize += header->GetCentralSize();
  m_headers.push_back(std::move(header));
  m_pOpenedFile = m_headers.back().get();
  m_pStorage->GetFile()->SeekToEnd();
  return m_pOpenedFile;
}

void CZipCentralDir::RemoveLastEntry() {
  if (m_headers.empty()) return;
  if (m_pOpenedFile == m_headers.back().get()) m_pOpenedFile = nullptr;
  m_uCentralSize -= m_headers.back()->GetCentralSize();
  m_headers.pop_back();
}

void CZipCentralDir::CloseEntry(bool with_time) {
  CZipFileHeader* header = m_pOpenedFile;
  if (header == nullptr) return;
  if (!m_pStorage->IsSegmented() && !header->IsDataDescriptor()) {
    header->UpdateLocalHeader(*m_pStorage, with_time);
  } else {
    header->WriteDataDescriptor(*m_pStorage);
  }
  m_pStorage->Flush();
  m_pOpenedFile = nullptr;
}

void CZipCentralDir::AbandonEntry() {
  CZipFileHeader* header = m_pOpenedFile;
  if (header == nullptr) return;
  // The entry's bytes are cut off again, so that a central directory
  // written later follows the last whole entry directly.
  const uint32_t offset = header->m_uOffset;
  m_pStorage->DiscardWaiting();
  if (m_pStorage->GetFile()->SetLength(offset)) {
    try {
      m_pStorage->Seek(offset);
    } catch (const CZipException&) {
      // The next write reports the fault.
    }
  }
  RemoveLastEntry();
  m_pOpenedFile = nullptr;
}

void CZipCentralDir::Write() {
  if (m_info.m_bInArchive) return;
  m_pStorage->Flush();
  m_pStorage->GetFile()->SeekToEnd();
  m_info.m_uDiskWithCD = m_pStorage->GetCurrentVolume();
  m_info.m_uOffset = static_cast<uint32_t>(m_pStorage->GetPosition());
  m_info.m_uSize = WriteHeaders();
  WriteEndRecord();
  m_info.m_bInArchive = true;
}

uint32_t CZipCentralDir::WriteHeaders() {
  uint32_t total = 0;
  m_info.m_uDiskEntriesNo = 0;
  for (const auto& header : m_headers) {
    total += header->WriteCentralHeader(*m_pStorage);
    ++m_info.m_uDiskEntriesNo;
  }
  m_info.m_uEntriesNumber = static_cast<uint16_t>(m_headers.size());
  return total;
}

void CZipCentralDir::WriteEndRecord() {
  const uint32_t comment_len = m_info.m_pszComment.GetSize();
  unsigned char record[zr::kEndRecordSize];
  zr::Writer w(record);
  w.U32(zr::kEndSignature);
  w.U16(m_info.m_uThisDisk);
  w.U16(m_info.m_uDiskWithCD);
  w.U16(m_info.m_uDiskEntriesNo);
  w.U16(m_info.m_uEntriesNumber);
  w.U32(m_info.m_uSize);
  w.U32(m_info.m_uOffset);
  w.U16(static_cast<uint16_t>(comment_len));
  m_pStorage->Write(record, sizeof(record), true);
  if (comment_len > 0) {
    m_pStorage->Write(m_info.m_pszComment.GetBuffer(), comment_len, true);
  }
}

void CZipCentralDir::Close() {
  m_pOpenedFile = nullptr;
  m_headers.clear();
  m_uCentralSize = 0;
}

uint64_t CZipCentralDir::GetNextEntryOffset() const {
  return m_info.m_bInArchive ? m_info.m_uOffset : m_pStorage->GetPosition();
}
