#include "zip/zip_compression_pool.h"

#include <algorithm>
#include <system_error>

#include "zip/zip_exception.h"

using qo::pproc::plain_lock_t;

CZipCompressionPool::CZipCompressionPool(int workers) {
  const int count = std::max(workers, 1);
  m_workers.reserve(static_cast<size_t>(count));
  try {
    for (int i = 0; i < count; ++i) {
      m_workers.emplace_back([this] { WorkerLoop(); });
    }
  } catch (const std::system_error& e) {
    StopAndJoin();
    CZipException::Throw(e.code().value(), "");
  }
}

CZipCompressionPool::~CZipCompressionPool() { StopAndJoin(); }

void CZipCompressionPool::StopAndJoin() {
  {
    plain_lock_t lock(m_mutex);
    m_bStopping = true;
    m_workAvailable.broadcast();
  }
  for (std::thread& worker : m_workers) {
    if (worker.joinable()) worker.join();
  }
}

void CZipCompressionPool::Submit(CZipPoolTask* task) {
  plain_lock_t lock(m_mutex);
  m_queue.push_back({task, false});
  m_workAvailable.signal();
}

void CZipCompressionPool::Post(std::unique_ptr<CZipPoolTask> task) {
  plain_lock_t lock(m_mutex);
  const size_t limit = kPostedPerWorker * m_workers.size();
  while (m_uPosted >= limit) m_taskDone.wait();
  ++m_uPosted;
  m_queue.push_back({task.release(), true});
  m_workAvailable.signal();
}

bool CZipCompressionPool::IsPending(const CZipPoolTask* task) const {
  return std::any_of(m_queue.begin(), m_queue.end(),
                     [task](const Queued& q) { return q.task == task; }) ||
         std::find(m_running.begin(), m_running.end(), task) != m_running.end();
}

void CZipCompressionPool::Wait(const CZipPoolTask* task) {
  plain_lock_t lock(m_mutex);
  while (IsPending(task)) m_taskDone.wait();
}

void CZipCompressionPool::Withdraw(const CZipPoolTask* task) {
  plain_lock_t lock(m_mutex);
  auto queued =
      std::find_if(m_queue.begin(), m_queue.end(),
                   [task](const Queued& q) { return q.task == task; });
  if (queued != m_queue.end()) m_queue.erase(queued);
  while (IsPending(task)) m_taskDone.wait();
}

void CZipCompressionPool::WorkerLoop() {
  for (;;) {
    Queued next;
    {
      plain_lock_t lock(m_mutex);
      // Queued work is finished even when the pool is stopping.
      while (m_queue.empty() && !m_bStopping) m_workAvailable.wait();
      if (m_queue.empty()) return;
      next = m_queue.front();
      m_queue.pop_front();
      m_running.push_back(next.task);
    }
    next.task->Run();
    {
      plain_lock_t lock(m_mutex);
      m_running.erase(std::find(m_running.begin(), m_running.end(), next.task));
      if (next.owned) --m_uPosted;
      m_taskDone.broadcast();
    }
    if (next.owned) delete next.task;
  }
}
