#include "zip/zip_storage.h"

#include <unistd.h>

#include <cstring>
#include <functional>

CZipStorage::CZipStorage() = default;

CZipStorage::~CZipStorage() = default;  // m_internalfile closes its descriptor

void CZipStorage::Open(const std::string& path, int mode,
                       uint64_t volume_size) {
  int flags = CZipFile::ModeReadWrite | CZipFile::ShareDenyWrite;
  flags |= (mode & 8) ? CZipFile::ModeNoTruncate : CZipFile::ModeCreate;
  Start(path, volume_size, [&] { m_internalfile.Open(path, flags, true); });
}

void CZipStorage::OpenDescriptor(int fd, const std::string& path) {
  Start(path, 0, [&] { m_internalfile.Attach(fd, path); });
  m_state |= stateExisting;
}

void CZipStorage::Start(const std::string& path, uint64_t volume_size,
                        const std::function<void()>& open_file) {
  m_uCurrentVolume = kNoVolume;
  m_pWriteBuffer.Allocate(static_cast<uint32_t>(m_iWriteBufferSize));
  m_uBytesInWriteBuffer = 0;
  m_state |= stateOpened | stateAutoClose;
  m_pFile = &m_internalfile;
  m_szArchiveName = path;
  m_uVolumeSize = volume_size;
  // CZipArchive accepts only new, unsplit archives (mode bit 4 without the
  // split bits 0x700), so these are the only ways in.
  m_uCurrentVolume = 0;
  try {
    open_file();
  } catch (...) {
    m_pWriteBuffer.Release();
    m_uCurrentVolume = kNoVolume;
    m_state = 0;
    m_pFile = nullptr;
    throw;
  }
}

void CZipStorage::Write(const void* data, uint32_t count, bool /*keep*/) {
  const char* p = static_cast<const char*>(data);
  const uint32_t size = m_pWriteBuffer.GetSize();
  while (count > 0) {
    if (m_uBytesInWriteBuffer == size) Flush();
    uint32_t room = size - m_uBytesInWriteBuffer;
    uint32_t n = count < room ? count : room;
    std::memcpy(m_pWriteBuffer.GetBuffer() + m_uBytesInWriteBuffer, p, n);
    m_uBytesInWriteBuffer += n;
    p += n;
    count -= n;
  }
}

void CZipStorage::Flush() {
  if (m_uBytesInWriteBuffer == 0) return;
  // The waiting count drops to 0 before the write: bytes of a failed write
  // are not written again.
  uint32_t n = m_uBytesInWriteBuffer;
  m_uBytesInWriteBuffer = 0;
  m_pFile->Write(m_pWriteBuffer.GetBuffer(), n);
}

void CZipStorage::FlushFile() {
  if (!IsReadOnly()) m_pFile->Flush();
}

uint64_t CZipStorage::GetPosition() const {
  uint64_t pos = m_pFile->GetPosition() + m_uBytesInWriteBuffer;
  if (m_uCurrentVolume == 0) pos -= m_uBytesBeforeZip;
  return pos;
}

uint64_t CZipStorage::Seek(uint64_t offset) {
  if (m_uCurrentVolume == 0) offset += m_uBytesBeforeZip;
  return m_pFile->Seek(static_cast<int64_t>(offset), CZipAbstractFile::begin);
}

std::string CZipStorage::Discard(bool return_path) {
  // Checked while the file is open: a file put at the name since is not
  // this one and stays.
  if (!(m_state & stateExisting) && m_internalfile.IsAt(m_szArchiveName)) {
    ::unlink(m_szArchiveName.c_str());
  }
  return Close(false, return_path);
}

std::string CZipStorage::Close(bool write, bool return_path) {
  std::string path;
  if (write) Flush();
  if (return_path) path = m_pFile != nullptr ? m_pFile->GetFilePath() : "";
  if (write) FlushFile();
  if ((m_state & stateAutoClose) && m_pFile != nullptr) m_pFile->Close();
  m_pWriteBuffer.Release();
  m_uBytesInWriteBuffer = 0;
  m_uCurrentVolume = kNoVolume;
  m_state = 0;
  m_pFile = nullptr;
  m_uBytesBeforeZip = 0;
  return path;
}
