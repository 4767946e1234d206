// CListener receives the run's progress and failure lines, one message at
// a time, without a line terminator: the lines scripts read on standard
// output. The run borrows it; its only implementation in the tool is
// CCoutListener (internal/cout_listener.h). Whoever calls OnMessage from
// several threads serialises the calls (fetch/ordered_output.h does).
#ifndef KRTLOGS_APP_LISTENER_H_
#define KRTLOGS_APP_LISTENER_H_

#include <string>

class CListener {
 public:
  virtual void OnMessage(const std::string& message) = 0;

 protected:
  // Listeners are never deleted through this interface.
  ~CListener() = default;
};

#endif  // KRTLOGS_APP_LISTENER_H_
