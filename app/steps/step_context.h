// What every step of a run (discovery aside) works with: SStepIo, the
// world outside the tool that a step talks to, and SStepSettings, what it
// reads besides the units. The driver (or a test) sets both up once, before
// the first unit is contacted, and keeps everything they point to alive
// for the whole run; steps only borrow them. Plain records.
#ifndef KRTLOGS_APP_STEPS_STEP_CONTEXT_H_
#define KRTLOGS_APP_STEPS_STEP_CONTEXT_H_

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "app/call_limits.h"
#include "app/listener.h"
#include "app/options.h"
#include "runtime/log/manager_if.h"

class COutputFolder;
class CSinceState;
struct RunRecord;

// Makes the log manager object for a unit's published reference; throws
// when no object can be made. Any thread.
using ManagerFactory = std::function<std::unique_ptr<qo::log::manager_if_t>(
    const std::string& ior)>;

struct SStepIo {
  CListener* listener;             // lines of standard output
  std::ostream* diagnostics;       // reasons, on standard error
  const ManagerFactory* managers;  // the units' objects
};

struct SStepSettings {
  // The command line's options (-j, -format, -keep-going, ...), and the
  // limits of the remote calls made from them. Never null.
  const RunOptions* options = nullptr;
  const CCallLimits* limits = nullptr;
  // Where fetching and archiving write; never null for them.
  const COutputFolder* folder = nullptr;
  // The name the archive will take (its temporary is named after it).
  std::string archive;
  // With -manifest: the run as MANIFEST.json tells it; each log file's
  // SHA-256 is computed as it is written. Null without -manifest.
  RunRecord* manifest = nullptr;
  // With -since: what earlier runs collected. Null without -since.
  const CSinceState* since = nullptr;
  // A status line on standard error while units are read and compressed
  // (a terminal, no -q).
  bool progress = false;
  // Threads compressing the archive's entries; 0: one per core.
  int compression_workers = 0;
};

#endif  // KRTLOGS_APP_STEPS_STEP_CONTEXT_H_
