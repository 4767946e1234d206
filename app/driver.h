// The run driver: reads the command line, starts the ORB, runs discovery
// and then either retrieval and archiving or clearing, and returns the
// process exit status. Every line it prints goes to standard output.
#ifndef KRTLOGS_APP_DRIVER_H_
#define KRTLOGS_APP_DRIVER_H_

#include "app/options.h"

int RunKrtLogs(int argc, const char* const* argv);

#endif  // KRTLOGS_APP_DRIVER_H_
