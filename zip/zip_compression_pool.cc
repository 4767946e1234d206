#include "zip/zip_compression_pool.h"

#include <algorithm>
#include <system_error>

#include "zip/zip_exception.h"

CZipCompressionPool::CZipCompressionPool(int workers)
    : m_workAvailable(&m_mutex), m_taskDone(&m_mutex) {
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
    CZipMutexLock lock(&m_mutex);
    m_bStopping = true;
    m_workAvailable.SignalAll();
  }
  for (std::thread& worker : m_workers) {
    if (worker.joinable()) worker.join();
  }
}

void CZipCompressionPool::Submit(CZipPoolTask* task) {
  CZipMutexLock lock(&m_mutex);
  m_queue.push_back(task);
  m_workAvailable.Signal();
}

bool CZipCompressionPool::IsPending(const CZipPoolTask* task) const {
  return std::find(m_queue.begin(), m_queue.end(), task) != m_queue.end() ||
         std::find(m_running.begin(), m_running.end(), task) != m_running.end();
}

void CZipCompressionPool::Wait(const CZipPoolTask* task) {
  CZipMutexLock lock(&m_mutex);
  while (IsPending(task)) m_taskDone.Wait();
}

void CZipCompressionPool::Withdraw(const CZipPoolTask* task) {
  CZipMutexLock lock(&m_mutex);
  auto queued = std::find(m_queue.begin(), m_queue.end(), task);
  if (queued != m_queue.end()) m_queue.erase(queued);
  while (IsPending(task)) m_taskDone.Wait();
}

void CZipCompressionPool::WorkerLoop() {
  for (;;) {
    CZipPoolTask* task;
    {
      CZipMutexLock lock(&m_mutex);
      // Queued work is finished even when the pool is stopping.
      while (m_queue.empty() && !m_bStopping) m_workAvailable.Wait();
      if (m_queue.empty()) return;
      task = m_queue.front();
      m_queue.pop_front();
      m_running.push_back(task);
    }
    task->Run();
    {
      CZipMutexLock lock(&m_mutex);
      m_running.erase(std::find(m_running.begin(), m_running.end(), task));
      m_taskDone.SignalAll();
    }
  }
}
