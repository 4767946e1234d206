// CZipMutex, CZipMutexLock and CZipCondVar: a plain (not recursive) mutex,
// its scoped lock and a condition variable over the standard library,
// annotated so that clang's -Wthread-safety checks the fields marked
// GUARDED_BY one of these mutexes. Used by the compression pool, whose
// threads share nothing else.
#ifndef KRTLOGS_ZIP_ZIP_MUTEX_H_
#define KRTLOGS_ZIP_ZIP_MUTEX_H_

#include <condition_variable>
#include <mutex>

#include "runtime/pproc/thread_annotations.h"

class CAPABILITY("mutex") CZipMutex {
 public:
  CZipMutex() = default;
  CZipMutex(const CZipMutex&) = delete;
  CZipMutex& operator=(const CZipMutex&) = delete;

  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }

 private:
  friend class CZipCondVar;
  std::mutex m_mutex;
};

// Holds a CZipMutex for the lock's lifetime.
class SCOPED_CAPABILITY CZipMutexLock {
 public:
  explicit CZipMutexLock(CZipMutex* mutex) ACQUIRE(mutex) : m_pMutex(mutex) {
    m_pMutex->Lock();
  }
  ~CZipMutexLock() RELEASE() { m_pMutex->Unlock(); }
  CZipMutexLock(const CZipMutexLock&) = delete;
  CZipMutexLock& operator=(const CZipMutexLock&) = delete;

 private:
  CZipMutex* const m_pMutex;
};

// Waits with the mutex it was made for, which the caller holds.
class CZipCondVar {
 public:
  explicit CZipCondVar(CZipMutex* mutex) : m_pMutex(mutex) {}
  CZipCondVar(const CZipCondVar&) = delete;
  CZipCondVar& operator=(const CZipCondVar&) = delete;

  // Releases the mutex while waiting and holds it again on return, which
  // may also come without a signal: callers wait in a loop on their
  // condition.
  void Wait() {
    std::unique_lock<std::mutex> lock(m_pMutex->m_mutex, std::adopt_lock);
    m_cond.wait(lock);
    lock.release();
  }
  void Signal() { m_cond.notify_one(); }
  void SignalAll() { m_cond.notify_all(); }

 private:
  CZipMutex* const m_pMutex;
  std::condition_variable m_cond;
};

#endif  // KRTLOGS_ZIP_ZIP_MUTEX_H_
