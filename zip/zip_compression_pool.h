// CZipCompressionPool: a fixed set of worker threads that run compression
// tasks (blocks of a blocked deflate stream, zip/zip_block_deflater.h) in
// the order they were submitted.
//
// One pool serves any number of entries and archives, and any number of
// threads may submit, wait and withdraw at once. The pool never owns a
// task: a submitter keeps its task alive until Wait or Withdraw has
// returned for it. Workers never wait for anything but work, so every task
// submitted is finished, whatever the submitters do.
//
// Besides tasks their submitters keep, the pool takes tasks it owns
// (Post): whole entries compressed while their writers go on. At most
// kPostedPerWorker such tasks per worker wait or run at once; Post blocks
// beyond that, so that a writer never heaps up more work (and the memory its
// task holds) than the workers get through.
//
// The pool must outlive every task submitted to it. Its destructor lets the
// workers finish what is queued, then joins them.
#ifndef KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_
#define KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

// A unit of work a worker runs. Run reports its failures in the task's own
// fields: nothing may escape it.
class CZipPoolTask {
 public:
  virtual ~CZipPoolTask() = default;
  virtual void Run() noexcept = 0;
};

class CZipCompressionPool {
 public:
  static constexpr size_t kPostedPerWorker = 2;

  // Starts `workers` threads (at least 1). Throws CZipException with the
  // system's error code as cause when a thread cannot be started; the
  // threads already started are stopped first.
  explicit CZipCompressionPool(int workers);
  CZipCompressionPool(const CZipCompressionPool&) = delete;
  CZipCompressionPool& operator=(const CZipCompressionPool&) = delete;
  ~CZipCompressionPool();

  int GetWorkerCount() const { return static_cast<int>(m_workers.size()); }

  // Queues `task` behind every task submitted before it. A task must not be
  // submitted again before Wait or Withdraw has returned for it.
  void Submit(CZipPoolTask* task) EXCLUDES(m_mutex);
  // Returns once `task` has run (at once when it is not queued or running).
  void Wait(const CZipPoolTask* task) EXCLUDES(m_mutex);
  // Takes `task` off the queue if it has not started; otherwise waits until
  // it has run. Afterwards the pool no longer refers to it.
  void Withdraw(const CZipPoolTask* task) EXCLUDES(m_mutex);
  // Queues `task` behind every task before it; the pool deletes it once it
  // has run. Waits first while kPostedPerWorker tasks per worker that were
  // posted are queued or running. Never from a task.
  void Post(std::unique_ptr<CZipPoolTask> task) EXCLUDES(m_mutex);

 private:
  void WorkerLoop() EXCLUDES(m_mutex);
  bool IsPending(const CZipPoolTask* task) const REQUIRES(m_mutex);
  void StopAndJoin() EXCLUDES(m_mutex);

  struct Queued {
    CZipPoolTask* task;
    bool owned;  // posted: deleted once it has run
  };

  qo::pproc::plain_mutex_t m_mutex;
  qo::pproc::plain_cond_t m_workAvailable{&m_mutex};  // queue grew, stopping
  qo::pproc::plain_cond_t m_taskDone{&m_mutex};       // a task has run
  std::deque<Queued> m_queue GUARDED_BY(m_mutex);
  std::vector<const CZipPoolTask*> m_running GUARDED_BY(m_mutex);
  size_t m_uPosted GUARDED_BY(m_mutex) = 0;  // posted, not yet run
  bool m_bStopping GUARDED_BY(m_mutex) = false;
  std::vector<std::thread> m_workers;  // set up by the constructor only
};

#endif  // KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_
