#include "zip/zip_auto_buffer.h"

#include <cstring>

CZipAutoBuffer::CZipAutoBuffer(uint32_t size, bool zero_memory) {
  Allocate(size, zero_memory);
}

CZipAutoBuffer::CZipAutoBuffer(const CZipAutoBuffer& other) { *this = other; }

CZipAutoBuffer& CZipAutoBuffer::operator=(const CZipAutoBuffer& other) {
  if (this == &other) return *this;
  Allocate(other.m_iSize);
  if (m_iSize > 0) std::memcpy(m_pBuffer, other.m_pBuffer, m_iSize);
  return *this;
}

CZipAutoBuffer::~CZipAutoBuffer() { Release(); }

char* CZipAutoBuffer::Allocate(uint32_t size, bool zero_memory) {
  if (size != m_iSize) {
    Release();
    if (size > 0) {
      m_pBuffer = new char[size];
      m_iSize = size;
    }
  }
  if (zero_memory && m_iSize > 0) std::memset(m_pBuffer, 0, m_iSize);
  return m_pBuffer;
}

void CZipAutoBuffer::Release() {
  delete[] m_pBuffer;
  m_pBuffer = nullptr;
  m_iSize = 0;
}
