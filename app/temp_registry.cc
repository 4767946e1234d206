#include "app/temp_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CTempRegistry& CTempRegistry::Instance() {
  // Never destroyed: the interrupt thread may need it while static
  // destructors run.
  static CTempRegistry* const registry = new CTempRegistry;
  return *registry;
}

CTempRegistry::CTempRegistry() = default;

uint64_t CTempRegistry::Add(int dir_fd, const std::string& name,
                            bool unfinished) {
  uint64_t id = next_id_++;
  entries_.emplace(id, Entry{dir_fd, name, unfinished});
  return id;
}

void CTempRegistry::Remove(uint64_t id) { entries_.erase(id); }

void CTempRegistry::NoteKept(int dir_fd, const std::string& name, KeptKind kind,
                             const std::string& display) {
  kept_[{dir_fd, name}] = Kept{kind, display};
}

void CTempRegistry::FolderOpened(int dir_fd, const std::string& description) {
  qo::pproc::plain_lock_t lock(mu_);
  folders_[dir_fd] = description;
}

void CTempRegistry::FolderClosed(int dir_fd) {
  qo::pproc::plain_lock_t lock(mu_);
  folders_.erase(dir_fd);
  for (auto it = kept_.begin(); it != kept_.end();) {
    it = it->first.first == dir_fd ? kept_.erase(it) : std::next(it);
  }
}

InterruptOutcome CTempRegistry::RemoveAll() {
  InterruptOutcome outcome;
  // Unfinished files first; a lock file last, so that no other run can
  // start in the folder while this one is still cleaning up.
  for (bool unfinished : {true, false}) {
    for (const auto& [id, entry] : entries_) {
      if (entry.unfinished != unfinished) continue;
      if (unlinkat(entry.dir_fd, entry.name.c_str(), 0) == 0 && unfinished) {
        ++outcome.removed;
      }
    }
  }
  if (!folders_.empty()) {
    outcome.folder_open = true;
    outcome.folder = folders_.begin()->second;
  }
  for (const auto& [where, kept] : kept_) {
    struct stat st;
    // Only what is still there and still a file counts: the archive step
    // removes the log files it has packed.
    if (fstatat(where.first, where.second.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    if (kept.kind == KeptKind::kLogFile) {
      ++outcome.kept_logs;
    } else {
      outcome.archive = kept.display;
    }
  }
  return outcome;
}
