#include "zip/zip_entry_deflater.h"

#include <algorithm>
#include <utility>

#include "zip/zip_block_deflater.h"
#include "zip/zip_compression_pool.h"
#include "zip/zip_compressor.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

namespace zr = zip_records;

// An entry's kept data, compressed whole on a pool worker.
class CZipEntryDeflater::WholeTask : public CZipPoolTask {
 public:
  WholeTask(CZipEntryTarget& target, int level, uint32_t attributes,
            time_t mtime, std::vector<unsigned char> data)
      : m_target(target),
        m_iLevel(level),
        m_uAttributes(attributes),
        m_tModTime(mtime),
        m_data(std::move(data)) {}

  void Run() noexcept override {
    try {
      std::vector<unsigned char> out;
      const CZipDeflatedEntry entry = CZipDeflatedEntry::CompressWhole(
          m_iLevel, m_data.data(), m_data.size(), m_uAttributes, m_tModTime,
          out);
      // The text is no longer needed: free it before the target's turn.
      std::vector<unsigned char>().swap(m_data);
      m_target.Done(entry, std::move(out));
    } catch (...) {
      m_target.Failed(std::current_exception());
    }
  }

 private:
  CZipEntryTarget& m_target;
  const int m_iLevel;
  const uint32_t m_uAttributes;
  const time_t m_tModTime;
  std::vector<unsigned char> m_data;
};

CZipEntryDeflater::CZipEntryDeflater(CZipCompressionPool& pool, int level,
                                     CZipEntryTarget& target)
    : m_pool(pool), m_iLevel(level), m_target(target) {}

CZipEntryDeflater::~CZipEntryDeflater() { Abandon(); }

void CZipEntryDeflater::Write(const void* data, size_t size) noexcept {
  if (m_bOver || size == 0) return;
  try {
    if (!m_blocked && m_kept.size() + size > kWholeLimit) StartBlocked();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (m_blocked) {
      m_blocked->Write(p, size, Sink());
    } else {
      // Grown by doubling, but never beyond the limit.
      const size_t needed = m_kept.size() + size;
      if (needed > m_kept.capacity()) {
        m_kept.reserve(
            std::min(std::max(2 * m_kept.capacity(), needed), kWholeLimit));
      }
      m_kept.insert(m_kept.end(), p, p + size);
    }
    m_uBytesIn += size;
  } catch (...) {
    Fail();
  }
}

std::function<void(const unsigned char*, uint32_t, uint64_t)>
CZipEntryDeflater::Sink() {
  return [this](const unsigned char* data, uint32_t size, uint64_t bytes_in) {
    if (bytes_in > zr::kMax32 || m_blocked->GetBytesOut() + size > zr::kMax32) {
      CZipException::Throw(CZipException::tooBigSize, "");
    }
    m_target.Data(data, size);
  };
}

void CZipEntryDeflater::StartBlocked() {
  m_blocked = std::make_unique<CZipBlockDeflater>(m_pool, m_iLevel, "");
  m_blocked->Write(m_kept.data(), m_kept.size(), Sink());
  std::vector<unsigned char>().swap(m_kept);
}

void CZipEntryDeflater::Finish(uint32_t attributes, time_t mtime) noexcept {
  if (m_bOver) return;
  m_bOver = true;
  try {
    if (m_blocked) {
      CZipDeflatedEntry entry;
      entry.m_uAttributes = attributes;
      entry.m_tModTime = mtime;
      entry.m_uUncomprSize = static_cast<uint32_t>(m_uBytesIn);
      entry.m_uMethod = CZipCompressor::methodDeflate;
      entry.m_iLevel = m_iLevel;
      m_blocked->Finish(Sink());
      entry.m_uCrc32 = m_blocked->GetCrc();
      entry.m_uComprSize = static_cast<uint32_t>(m_blocked->GetBytesOut());
      m_blocked.reset();
      m_target.Done(entry, {});
    } else {
      m_pool.Post(std::make_unique<WholeTask>(m_target, m_iLevel, attributes,
                                              mtime, std::move(m_kept)));
    }
  } catch (...) {
    m_bOver = false;
    Fail();
  }
  std::vector<unsigned char>().swap(m_kept);
}

void CZipEntryDeflater::Abandon() noexcept {
  m_bOver = true;
  m_blocked.reset();
  std::vector<unsigned char>().swap(m_kept);
}

void CZipEntryDeflater::Fail() noexcept {
  if (m_bOver) return;
  m_bOver = true;
  m_blocked.reset();
  std::vector<unsigned char>().swap(m_kept);
  m_target.Failed(std::current_exception());
}
