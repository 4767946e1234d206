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
// The pool must outlive every task submitted to it. Its destructor lets the
// workers finish what is queued, then joins them.
#ifndef KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_
#define KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_

#include <deque>
#include <thread>
#include <vector>

#include "runtime/pproc/thread_annotations.h"
#include "zip/zip_mutex.h"

// A unit of work a worker runs. Run reports its failures in the task's own
// fields: nothing may escape it.
class CZipPoolTask {
 public:
  virtual ~CZipPoolTask() = default;
  virtual void Run() noexcept = 0;
};

class CZipCompressionPool {
 public:
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

 private:
  void WorkerLoop() EXCLUDES(m_mutex);
  bool IsPending(const CZipPoolTask* task) const REQUIRES(m_mutex);
  void StopAndJoin() EXCLUDES(m_mutex);

  CZipMutex m_mutex;
  CZipCondVar m_workAvailable;  // the queue grew or the pool is stopping
  CZipCondVar m_taskDone;       // a task has run
  std::deque<CZipPoolTask*> m_queue GUARDED_BY(m_mutex);
  std::vector<const CZipPoolTask*> m_running GUARDED_BY(m_mutex);
  bool m_bStopping GUARDED_BY(m_mutex) = false;
  std::vector<std::thread> m_workers;  // set up by the constructor only
};

#endif  // KRTLOGS_ZIP_ZIP_COMPRESSION_POOL_H_
