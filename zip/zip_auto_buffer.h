// CZipAutoBuffer: an owned byte array and its size.
#ifndef KRTLOGS_ZIP_ZIP_AUTO_BUFFER_H_
#define KRTLOGS_ZIP_ZIP_AUTO_BUFFER_H_

#include <cstdint>

class CZipAutoBuffer {
 public:
  CZipAutoBuffer() = default;
  explicit CZipAutoBuffer(uint32_t size, bool zero_memory = false);
  CZipAutoBuffer(const CZipAutoBuffer& other);
  CZipAutoBuffer& operator=(const CZipAutoBuffer& other);
  virtual ~CZipAutoBuffer();

  // A new size frees the old array first; the current size keeps the array;
  // size 0 means no array. Returns the array.
  char* Allocate(uint32_t size, bool zero_memory = false);
  void Release();

  char* GetBuffer() const { return m_pBuffer; }
  uint32_t GetSize() const { return m_iSize; }
  bool IsAllocated() const { return m_pBuffer != nullptr; }
  operator char*() const { return m_pBuffer; }

 private:
  char* m_pBuffer = nullptr;
  uint32_t m_iSize = 0;
};

#endif  // KRTLOGS_ZIP_ZIP_AUTO_BUFFER_H_
