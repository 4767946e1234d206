// The run driver: reads the command line, starts the ORB, runs discovery
// and then either retrieval and archiving or clearing, and returns the
// process exit status. Every line it prints goes to standard output.
#ifndef KRTLOGS_APP_DRIVER_H_
#define KRTLOGS_APP_DRIVER_H_

// Exit statuses of a run.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // a unit, the archive or a clear failed
constexpr int kExitDiscoveryFailed = -1;  // seen by the shell as 255

int RunKrtLogs(int argc, const char* const* argv);

#endif  // KRTLOGS_APP_DRIVER_H_
