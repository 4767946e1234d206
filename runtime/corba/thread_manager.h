// Runs the ORB's event loop on a fixed number of threads. omniORB serves
// requests on threads of its own whether or not anyone runs the loop; these
// threads exist so that the process keeps a known set of ORB threads from
// start to stop. Owned by orb_t, which starts it after the root POA is up
// and stops it once the ORB has been shut down; start and stop are called
// from one thread only.
#ifndef QO_RUNTIME_CORBA_THREAD_MANAGER_H_
#define QO_RUNTIME_CORBA_THREAD_MANAGER_H_

#include <omniORB4/CORBA.h>

#include <memory>
#include <vector>

#include "runtime/corba/orb.h"
#include "runtime/pproc/thread.h"

namespace qo::corba {

class orb_t::thread_manager_t {
 public:
  class orb_thread_t;

  explicit thread_manager_t(unsigned count);
  ~thread_manager_t();
  thread_manager_t(const thread_manager_t&) = delete;
  thread_manager_t& operator=(const thread_manager_t&) = delete;

  // Creates `count` threads, each running orb->run() on its own duplicate of
  // `orb`, in index order. Does nothing while threads are running.
  void start(CORBA::ORB_ptr orb);
  // Joins and deletes the threads in creation order. Each thread's loop
  // must be able to end, that is the ORB must have been shut down.
  void stop();

  unsigned count() const { return count_; }

 private:
  const unsigned count_;
  std::vector<std::unique_ptr<orb_thread_t>> threads_;
  bool started_ = false;
};

// One thread of the ORB's event loop. A loop that ends with an exception
// prints "fatal exception in corba orb thread function: " and its text on
// standard output; the other threads go on.
class orb_t::thread_manager_t::orb_thread_t : public qo::pproc::thread_t {
 public:
  explicit orb_thread_t(CORBA::ORB_ptr orb);
  ~orb_thread_t() override;

 protected:
  void run() override;

 private:
  CORBA::ORB_var orb_;
};

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_THREAD_MANAGER_H_
