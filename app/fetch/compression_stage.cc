#include "app/fetch/compression_stage.h"

#include <algorithm>
#include <system_error>

CCompressionStage::CCompressionStage(const COutputFolder& folder, size_t files,
                                     int workers, int level)
    : folder_(folder),
      level_(level),
      pool_(std::max(workers, 1)),
      changed_(mutex_) {
  {
    qo::pproc::cond_guard_t guard(mutex_);
    results_.resize(files);
    submitted_.assign(files, 0);
    done_.assign(files, 0);
  }
  const int threads = std::max(workers, 1);
  for (int i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
      if (!threads_.empty()) break;
      throw;
    }
  }
}

CCompressionStage::~CCompressionStage() {
  {
    qo::pproc::cond_guard_t guard(mutex_);
    stopping_ = true;
    queue_.clear();
    changed_.broadcast();
  }
  for (std::thread& t : threads_) t.join();
}

void CCompressionStage::Submit(size_t index, const std::string& name) {
  qo::pproc::cond_guard_t guard(mutex_);
  if (stopping_ || index >= submitted_.size() || submitted_[index]) return;
  submitted_[index] = 1;
  queue_.push_back({index, name});
  changed_.broadcast();
}

CCompressionStage::SResult CCompressionStage::Take(size_t index) {
  qo::pproc::cond_guard_t guard(mutex_);
  if (index >= submitted_.size() || !submitted_[index]) return SResult();
  while (!done_[index]) changed_.wait(-1);
  return std::move(results_[index]);
}

void CCompressionStage::Run() {
  for (;;) {
    SJob job;
    {
      qo::pproc::cond_guard_t guard(mutex_);
      while (!stopping_ && queue_.empty()) changed_.wait(-1);
      if (stopping_) return;
      job = queue_.front();
      queue_.pop_front();
    }
    SResult result = Compress(job);
    qo::pproc::cond_guard_t guard(mutex_);
    results_[job.index] = std::move(result);
    done_[job.index] = 1;
    changed_.broadcast();
  }
}

CCompressionStage::SResult CCompressionStage::Compress(const SJob& job) {
  SResult result;
  try {
    // The scratch file's final name is never used: it is never committed.
    result.scratch.reset(new CTempFile(folder_, job.name + ".deflated",
                                       CTempFile::Purpose::kScratch));
    result.entry = CZipDeflatedEntry::Compress(
        folder_.PathOf(job.name), result.scratch->path(), level_, pool_);
    result.ready = true;
  } catch (...) {
    result.failure = std::current_exception();
    result.scratch.reset();
  }
  return result;
}
