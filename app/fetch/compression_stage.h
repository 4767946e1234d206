// CCompressionStage compresses each unit's log file as soon as the file is
// complete, while other units are still being read, so that making the
// archive afterwards only copies bytes. Files wait in a queue; a few
// threads of the stage take them in turn and deflate each in blocks on the
// shared compression pool, so that even one large file keeps every core
// busy. The compressed data goes to a scratch file in the output folder
// (removed with the stage, and by an interrupted run's clean-up).
//
// At most as many files are compressed at once as the pool has workers,
// which bounds the memory the blocks take whatever -j is.
//
// Submit may be called from any thread; Take from one thread at a time.
// The folder must outlive the stage.
#ifndef KRTLOGS_APP_FETCH_COMPRESSION_STAGE_H_
#define KRTLOGS_APP_FETCH_COMPRESSION_STAGE_H_

#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/folder.h"
#include "app/temp_file.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread_annotations.h"
#include "zip/zip_compression_pool.h"
#include "zip/zip_deflated_entry.h"

class CCompressionStage {
 public:
  // The archive's entries are deflated at zlib's default level.
  static constexpr int kDefaultLevel = -1;

  // What became of one file: its compressed form, or why there is none.
  struct SResult {
    bool ready = false;                  // compressed into `scratch`
    CZipDeflatedEntry entry;             // when ready
    std::unique_ptr<CTempFile> scratch;  // holds the compressed data
    std::exception_ptr failure;          // when not ready
  };

  // `files`: the number of files that may be submitted (indexes 0 to
  // files - 1). `workers`: the compression pool's threads (the machine's
  // cores). `level`: the deflate level, -1 for zlib's default.
  CCompressionStage(const COutputFolder& folder, size_t files, int workers,
                    int level);
  // Stops taking files, waits for those being compressed and removes every
  // scratch file not taken.
  ~CCompressionStage();
  CCompressionStage(const CCompressionStage&) = delete;
  CCompressionStage& operator=(const CCompressionStage&) = delete;

  // Queues the complete file `name` of the folder as file `index`.
  void Submit(size_t index, const std::string& name) EXCLUDES(mutex_);
  // Waits until file `index` has been compressed (or failed) and hands its
  // result over. A file never submitted gives a result that is not ready.
  SResult Take(size_t index) EXCLUDES(mutex_);

  CZipCompressionPool& pool() { return pool_; }

 private:
  struct SJob {
    size_t index;
    std::string name;
  };

  void Run() EXCLUDES(mutex_);
  SResult Compress(const SJob& job);

  const COutputFolder& folder_;
  const int level_;
  CZipCompressionPool pool_;
  qo::pproc::cond_mutex_t mutex_;
  qo::pproc::condition_t changed_;  // a job was queued or finished
  std::deque<SJob> queue_ GUARDED_BY(mutex_);
  std::vector<SResult> results_ GUARDED_BY(mutex_);
  std::vector<char> submitted_ GUARDED_BY(mutex_);
  std::vector<char> done_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;
};

#endif  // KRTLOGS_APP_FETCH_COMPRESSION_STAGE_H_
