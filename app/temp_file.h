// CTempFile is a file being written in the output folder under a fresh
// temporary name, so that its final name only ever holds a complete file.
// The object owns the descriptor and the name:
//  - construction creates the file exclusively (O_CREAT|O_EXCL|O_NOFOLLOW,
//    close-on-exec) under a name made of the final name and the temporary
//    marker, ".<final>.krtlogs-tmp-<pid>-<n>", in the folder;
//  - Commit() renames it to its final name once the caller has written it
//    all; whatever is at the final name then (a file, a symlink, a hard link,
//    a FIFO) is replaced, never followed or opened;
//  - destruction without a commit removes it.
// Creation and commit are recorded in CTempRegistry under its lock, so an
// interrupted run removes every temporary and none of a committed file.
//
// Write through fd() where possible. A caller that reopens path() (a writer
// that takes a file name) must not create it again with O_CREAT once the
// object is gone; a temporary left by a run that died between the two is
// removed by the next run in the folder.
//
// One object belongs to one thread at a time; many threads may create and
// commit their own objects concurrently. The folder must outlive the object.
#ifndef KRTLOGS_APP_TEMP_FILE_H_
#define KRTLOGS_APP_TEMP_FILE_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "app/temp_registry.h"

class COutputFolder;

class CTempFile {
 public:
  // What the file becomes under its final name: a log file or the archive
  // (both named by the interrupt message), another file the run keeps (the
  // state file), or nothing: scratch space (compressed entries waiting for
  // their turn in the archive) is never committed.
  enum class Purpose { kLogFile, kArchive, kOther, kScratch };

  // Whether Commit makes the file durable before and after the rename.
  enum class Durability {
    kFast,    // rename only: an intermediate file the run will remove
    kSynced,  // fsync the data, rename, fsync the folder: a file that
              // replaces something of value (an archive, a state file)
  };

  // Creates the temporary for `final_name` (a plain file name, see
  // EnsurePlainFileName) with permission bits `mode` less the umask. Throws
  // qo::pos::exception_t with the folder's path in the text when the file
  // cannot be created, qo::exception_t for a bad name.
  CTempFile(const COutputFolder& folder, const std::string& final_name,
            Purpose purpose, mode_t mode = kDefaultMode);
  ~CTempFile();
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;

  // Open for reading and writing until Commit; -1 afterwards.
  int fd() const { return fd_; }
  // The temporary's path as COutputFolder::PathOf gives it.
  std::string path() const;
  const std::string& temp_name() const { return temp_name_; }
  const std::string& final_name() const { return final_name_; }
  bool committed() const { return committed_; }

  // Closes the descriptor (a failing close is a failed write) and renames
  // the file to its final name. Throws qo::pos::exception_t naming the
  // file; the temporary then stays the object's, to be removed with it.
  // Not for Purpose::kScratch.
  void Commit(Durability durability = Durability::kFast);

  // Removes the temporary now (as destruction would). Never throws.
  void Discard();

  // Makes `final_name` (a plain file name) the name Commit gives the file;
  // the temporary keeps its name. Throws qo::exception_t for a bad name.
  void SetFinalName(const std::string& final_name);

  static constexpr mode_t kDefaultMode = 0666;

 private:
  const COutputFolder& folder_;
  std::string final_name_;
  const Purpose purpose_;
  std::string temp_name_;
  int fd_ = -1;
  uint64_t id_ = 0;  // in CTempRegistry; 0 when not registered
  bool committed_ = false;
};

// The temporary marker's rules, shared with the folder's clean-up.
//
// A fresh temporary name for `final_name`; `serial` makes it unique within
// the process.
std::string TemporaryNameFor(const std::string& final_name, uint64_t serial);
// Whether `name` has the form TemporaryNameFor gives, for any final name,
// process and serial.
bool IsTemporaryName(const std::string& name);

#endif  // KRTLOGS_APP_TEMP_FILE_H_
