// COrbScope starts the process's ORB on the host's first IPv4 address when
// constructed and stops it when destroyed, printing "done" after each. The
// run driver keeps exactly one on its stack for the whole run; the ORB
// singleton itself outlives it, stopped. Failures of the start leave the
// constructor as exceptions, before "done". Main thread only.
#ifndef KRTLOGS_APP_ORB_SCOPE_H_
#define KRTLOGS_APP_ORB_SCOPE_H_

class COrbScope {
 public:
  COrbScope();
  ~COrbScope();
  COrbScope(const COrbScope&) = delete;
  COrbScope& operator=(const COrbScope&) = delete;
};

#endif  // KRTLOGS_APP_ORB_SCOPE_H_
