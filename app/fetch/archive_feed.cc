#include "app/fetch/archive_feed.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "app/folder.h"
#include "app/temp_file.h"
#include "runtime/error/exception.h"
#include "zip/zip_compression_pool.h"
#include "zip/zip_compressor.h"

using qo::pproc::plain_lock_t;

namespace {

// The scratch file is read back in pieces of this size.
constexpr size_t kCopyChunk = 64 * 1024;

constexpr char kScratchSuffix[] = ".waiting";

}  // namespace

// --- CUnit ------------------------------------------------------------------

CArchiveFeed::CUnit::CUnit(CArchiveFeed& feed, size_t index)
    : feed_(feed), index_(index) {}

CArchiveFeed::CUnit::~CUnit() { Drop(); }

void CArchiveFeed::CUnit::Block(const char* data, size_t size) {
  if (over_) return;
  {
    plain_lock_t lock(feed_.mu_);
    feed_.counts_.bytes += size;
  }
  deflater_->Write(data, size);
}

void CArchiveFeed::CUnit::Finish(uint32_t attributes, time_t mtime) {
  if (over_) return;
  over_ = true;
  {
    plain_lock_t lock(feed_.mu_);
    ++feed_.counts_.logs;
  }
  // Done (or Failed) follows, here or on a pool worker.
  deflater_->Finish(attributes, mtime);
}

void CArchiveFeed::CUnit::Drop() {
  if (over_) return;
  over_ = true;
  deflater_->Abandon();
  plain_lock_t lock(feed_.mu_);
  Slot& slot = *feed_.slots_[index_];
  if (slot.open) {
    feed_.archive_.AbandonCompressed();
    slot.open = false;
  }
  if (!slot.resolved) feed_.Resolve(slot);
  feed_.Drain();
}

// --- Slot -------------------------------------------------------------------

void CArchiveFeed::Slot::Data(const unsigned char* data, size_t size) {
  plain_lock_t lock(feed_.mu_);
  if (resolved) return;
  feed_.Keep(*this, std::vector<unsigned char>(data, data + size));
  feed_.Drain();
}

void CArchiveFeed::Slot::Done(const CZipDeflatedEntry& done,
                              std::vector<unsigned char> data) noexcept {
  plain_lock_t lock(feed_.mu_);
  if (resolved) return;
  try {
    if (!data.empty()) feed_.Keep(*this, std::move(data));
  } catch (...) {
    feed_.NoteFailure();
  }
  entry = done;
  ready = true;
  resolved = true;
  --feed_.unresolved_;
  ++feed_.counts_.logs_done;
  feed_.counts_.bytes_done += done.m_uUncomprSize;
  feed_.Drain();
  feed_.changed_.broadcast();
}

void CArchiveFeed::Slot::Failed(std::exception_ptr failure) noexcept {
  plain_lock_t lock(feed_.mu_);
  if (resolved) return;
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    feed_.NoteFailure();
  }
  feed_.Resolve(*this);
  feed_.Drain();
}

// --- CArchiveFeed -----------------------------------------------------------

CArchiveFeed::CArchiveFeed(const COutputFolder& folder,
                           const std::string& archive, size_t units,
                           CZipCompressionPool& pool)
    : folder_(folder), pool_(pool), target_(folder, archive) {
  // Failures name the archive the user knows, not its temporary, which is
  // gone by the time they are read.
  const std::string shown = folder.PathOf(archive);
  struct stat st;
  if (fstat(target_.fd(), &st) != 0) {
    throw qo::pos::exception_t("cannot write " + shown);
  }
  // As CZipArchive records a file's mode: type and permission bits.
  file_attributes_ = st.st_mode & 0xF1FF;
  plain_lock_t lock(mu_);
  archive_.OpenDescriptor(target_.fd(), shown);
  slots_.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    slots_.push_back(std::make_unique<Slot>(*this, i));
  }
  unresolved_ = units;
}

CArchiveFeed::~CArchiveFeed() {
  plain_lock_t lock(mu_);
  // Entries posted to the pool still report to their slots.
  for (const auto& slot : slots_) {
    if (!slot->resolved && slot->name.empty()) Resolve(*slot);
  }
  while (unresolved_ > 0) changed_.wait();
}

std::unique_ptr<CArchiveFeed::CUnit> CArchiveFeed::Start(
    size_t index, const std::string& name, uint32_t attributes) {
  std::unique_ptr<CUnit> unit(new CUnit(*this, index));
  {
    plain_lock_t lock(mu_);
    Slot& slot = *slots_[index];
    slot.name = name;
    slot.attributes = attributes;
    unit->deflater_ = std::make_unique<CZipEntryDeflater>(pool_, kLevel, slot);
  }
  return unit;
}

void CArchiveFeed::Skip(size_t index) {
  plain_lock_t lock(mu_);
  Slot& slot = *slots_[index];
  if (!slot.resolved) Resolve(slot);
  Drain();
}

CZipArchive& CArchiveFeed::Complete() {
  plain_lock_t lock(mu_);
  while (head_ < slots_.size() && !failure_) changed_.wait();
  if (failure_) std::rethrow_exception(failure_);
  return archive_;
}

CArchiveFeed::SCounts CArchiveFeed::counts() const {
  plain_lock_t lock(mu_);
  return counts_;
}

void CArchiveFeed::Resolve(Slot& slot) {
  slot.resolved = true;
  --unresolved_;
  Free(slot);
  changed_.broadcast();
}

void CArchiveFeed::Free(Slot& slot) {
  for (const Piece& piece : slot.pieces) in_memory_ -= piece.bytes.size();
  slot.pieces.clear();
}

void CArchiveFeed::NoteFailure() {
  if (!failure_) failure_ = std::current_exception();
  changed_.broadcast();
}

CTempFile& CArchiveFeed::Scratch() {
  if (!scratch_) {
    scratch_ = std::make_unique<CTempFile>(
        folder_, target_.final_name() + kScratchSuffix,
        CTempFile::Purpose::kScratch);
  }
  return *scratch_;
}

void CArchiveFeed::Keep(Slot& slot, std::vector<unsigned char> bytes) {
  if (failure_) return;  // nothing more goes into the archive
  Piece piece;
  piece.size = bytes.size();
  if (slot.index_ == head_ || in_memory_ + bytes.size() <= kWaitingInMemory) {
    in_memory_ += bytes.size();
    piece.bytes = std::move(bytes);
  } else {
    CTempFile& scratch = Scratch();
    const unsigned char* p = bytes.data();
    size_t left = bytes.size();
    uint64_t at = scratch_end_;
    while (left > 0) {
      const ssize_t n = pwrite(scratch.fd(), p, left, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        throw qo::pos::exception_t("cannot keep the entries waiting for " +
                                   folder_.PathOf(target_.final_name()));
      }
      p += n;
      left -= static_cast<size_t>(n);
      at += static_cast<uint64_t>(n);
    }
    piece.offset = scratch_end_;
    scratch_end_ = at;
  }
  slot.pieces.push_back(std::move(piece));
}

void CArchiveFeed::WritePieces(Slot& slot) {
  std::vector<unsigned char> buffer;
  for (Piece& piece : slot.pieces) {
    if (!piece.bytes.empty()) {
      archive_.WriteCompressed(piece.bytes.data(), piece.bytes.size());
      in_memory_ -= piece.bytes.size();
      std::vector<unsigned char>().swap(piece.bytes);
    } else {
      buffer.resize(kCopyChunk);
      for (uint64_t done = 0; done < piece.size;) {
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(kCopyChunk, piece.size - done));
        const ssize_t n = pread(scratch_->fd(), buffer.data(), want,
                                static_cast<off_t>(piece.offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          if (n == 0) errno = EIO;
          throw qo::pos::exception_t("cannot read the entries waiting for " +
                                     folder_.PathOf(target_.final_name()));
        }
        archive_.WriteCompressed(buffer.data(), static_cast<size_t>(n));
        done += static_cast<uint64_t>(n);
      }
    }
    piece.size = 0;  // written; nothing of it is left to free
  }
  slot.pieces.clear();
}

void CArchiveFeed::Drain() {
  while (head_ < slots_.size()) {
    Slot& slot = *slots_[head_];
    if (failure_) {
      // The archive is lost: entries only need to be let go of.
      Free(slot);
      if (!slot.resolved) return;
      ++head_;
      continue;
    }
    if (slot.resolved && !slot.ready) {  // nothing for the archive
      ++head_;
      changed_.broadcast();
      continue;
    }
    // A blocked entry begins as soon as its first piece is there; its
    // final record replaces the provisional one when it is done.
    if (!slot.ready && slot.pieces.empty()) return;
    try {
      if (!slot.open) {
        CZipDeflatedEntry begun = slot.entry;
        if (!slot.ready) {
          begun.m_uAttributes = slot.attributes;
          begun.m_tModTime = time(nullptr);
          begun.m_uMethod = CZipCompressor::methodDeflate;
          begun.m_iLevel = kLevel;
        }
        // Refused only at the zip format's limit of entries, which
        // archiving names before it waits for this.
        if (!archive_.BeginCompressed(begun, slot.name)) {
          throw qo::exception_t("the archive cannot take " + slot.name);
        }
        slot.open = true;
      }
      WritePieces(slot);
      if (!slot.ready) return;
      archive_.EndCompressed(slot.entry);
      slot.open = false;
    } catch (...) {
      slot.open = false;
      NoteFailure();
      continue;
    }
    ++head_;
    changed_.broadcast();
  }
}
