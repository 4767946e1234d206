// The listener that prints each extractor message as one line on standard
// output, flushed at once so that progress shows while the run goes on.
// Called by one thread at a time.
#ifndef KRTLOGS_APP_INTERNAL_COUT_LISTENER_H_
#define KRTLOGS_APP_INTERNAL_COUT_LISTENER_H_

#include <string>

#include "app/listener.h"
#include "app/stdout_lines.h"

class CCoutListener : public CListener {
 public:
  void OnMessage(const std::string& message) override {
    // Up to the first NUL, as the text would print from a C string. Text
    // from the repository or a unit inside a message is escaped where the
    // message is made (app/text_escape.h).
    PrintLine(message.c_str());
  }
  virtual ~CCoutListener() = default;
};

#endif  // KRTLOGS_APP_INTERNAL_COUT_LISTENER_H_
