// CTempRegistry is the process-wide list of the files an interrupted run
// must remove (its live temporaries and its folder's lock file) and of the
// files it has completed, so that the interrupt thread (signals.h) can clean
// up and say what it kept.
//
// Creating a temporary and recording it, and renaming it into place and
// forgetting it, each happen under mutex() (see CTempFile), and the
// interrupt thread takes mutex() and never gives it back before it ends the
// process. So no temporary escapes the clean-up, and no file that already
// has its final name is removed by it.
//
// The registry is created on first use and never destroyed, so that the
// interrupt thread may use it until the process ends. Thread-safe.
#ifndef KRTLOGS_APP_TEMP_REGISTRY_H_
#define KRTLOGS_APP_TEMP_REGISTRY_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

// What a file that took its final name is, for the interrupt message.
enum class KeptKind { kLogFile, kArchive };

// What an interrupted run removed and kept.
struct InterruptOutcome {
  int removed = 0;           // unfinished temporaries removed
  bool folder_open = false;  // an output folder was in use
  std::string folder;        // its description (COutputFolder::Description)
  int kept_logs = 0;         // complete log files still in the folder
  std::string archive;       // a complete archive (PathOf), or empty
};

class CTempRegistry {
 public:
  static CTempRegistry& Instance();

  CTempRegistry(const CTempRegistry&) = delete;
  CTempRegistry& operator=(const CTempRegistry&) = delete;

  qo::pproc::plain_mutex_t& mutex() RETURN_CAPABILITY(mu_) { return mu_; }

  // Records a file to remove when the run is interrupted: `name` in the
  // folder open as `dir_fd`. `unfinished` says whether it counts as an
  // unfinished file in the message (a lock file does not). Returns the
  // file's id.
  uint64_t Add(int dir_fd, const std::string& name, bool unfinished)
      REQUIRES(mu_);
  void Remove(uint64_t id) REQUIRES(mu_);

  // Records that `name` in `dir_fd` is complete under its final name.
  // `display` is how the message names it (an archive's path).
  void NoteKept(int dir_fd, const std::string& name, KeptKind kind,
                const std::string& display) REQUIRES(mu_);

  // An output folder opened and closed: `description` names it in the
  // message. Closing forgets every kept file recorded for it.
  void FolderOpened(int dir_fd, const std::string& description) EXCLUDES(mu_);
  void FolderClosed(int dir_fd) EXCLUDES(mu_);

  // For the interrupt thread: removes every recorded file, unfinished ones
  // first, and tells what is left. Does not forget anything, so it must be
  // the last thing done under the lock before the process ends.
  InterruptOutcome RemoveAll() REQUIRES(mu_);

 private:
  CTempRegistry();

  struct Entry {
    int dir_fd;
    std::string name;
    bool unfinished;
  };
  struct Kept {
    KeptKind kind;
    std::string display;
  };

  qo::pproc::plain_mutex_t mu_;
  uint64_t next_id_ GUARDED_BY(mu_) = 1;
  std::map<uint64_t, Entry> entries_ GUARDED_BY(mu_);
  // Keyed by folder and name, so that a name committed twice counts once.
  std::map<std::pair<int, std::string>, Kept> kept_ GUARDED_BY(mu_);
  std::map<int, std::string> folders_ GUARDED_BY(mu_);
};

#endif  // KRTLOGS_APP_TEMP_REGISTRY_H_
