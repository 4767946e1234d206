// COutputFolder is the folder a fetching run writes into (-o DIR, "." by
// default). Constructing one
//  - creates the folder with its parents when it is missing,
//  - takes the run lock: an exclusive, non-blocking flock on the lock file
//    ".krtlogs.lock" in the folder, held for the object's whole life, so
//    that two runs never write into one folder at once,
//  - and, once the lock is held, removes the temporary files that a killed
//    run left behind (only names carrying the temporary marker of
//    temp_file.h, and only regular files).
// Destruction releases the lock and removes the lock file. Every file the
// run creates goes through the folder's descriptor (the *at calls), so a
// folder renamed or replaced by a link during the run is not followed.
//
// The folder must outlive every CTempFile and CArchiveTarget made in it.
// Its accessors may be called from any thread; construction and destruction
// belong to one thread (the run driver).
#ifndef KRTLOGS_APP_FOLDER_H_
#define KRTLOGS_APP_FOLDER_H_

#include <cstdint>
#include <string>

#include "runtime/error/exception.h"

// Another run holds the folder's lock. The message is the plain reason,
// naming the folder, for the caller to print before it exits with status 1.
class CFolderBusy : public qo::exception_t {
 public:
  explicit CFolderBusy(const std::string& message);
};

class COutputFolder {
 public:
  // `path` is the folder as the user gave it; empty means ".". Throws
  // CFolderBusy when another run holds the lock, qo::pos::exception_t
  // (errno, the path in the text) when the folder cannot be created, opened
  // or locked, and qo::exception_t when something other than a file has
  // the lock file's name.
  explicit COutputFolder(const std::string& path);
  ~COutputFolder();
  COutputFolder(const COutputFolder&) = delete;
  COutputFolder& operator=(const COutputFolder&) = delete;

  // The folder as given, without trailing slashes ("." by default).
  const std::string& path() const { return path_; }
  // How to name `name` in this folder to the user and to calls that take a
  // path: "name" in ".", "DIR/name" otherwise.
  std::string PathOf(const std::string& name) const;
  // The folder for messages: "the current folder" for ".", else the path.
  std::string Description() const;
  // The folder's open descriptor, for openat, renameat and friends.
  int fd() const { return fd_; }
  // How many temporaries of a killed run the constructor removed.
  int stale_removed() const { return stale_removed_; }

  // Whether anything at all (a file, a folder, a link, even a dangling one)
  // has the name `name` in the folder. Throws qo::pos::exception_t when the
  // folder cannot be read.
  bool Exists(const std::string& name) const;

 private:
  void Lock();
  void RemoveStaleTemporaries();

  std::string path_;
  int fd_ = -1;
  int lock_fd_ = -1;  // the lock file, or -1 when fd_ itself is locked
  bool remove_lock_file_ = false;  // we made or own the lock file
  uint64_t lock_id_ = 0;           // the lock file in CTempRegistry
  int stale_removed_ = 0;
};

// Throws qo::exception_t naming `name` unless it is a plain file name: not
// empty, not "." or "..", without "/" and without NUL. Every name the folder
// creates, renames or removes passes this check, so that nothing outside the
// folder is ever touched whatever the units or the user send.
void EnsurePlainFileName(const std::string& name);

// Creates `path` and every missing parent, like mkdir -p. Throws
// qo::pos::exception_t naming the part that cannot be created or that is in
// the way (a file where a folder should be).
void CreateFolderWithParents(const std::string& path);

#endif  // KRTLOGS_APP_FOLDER_H_
