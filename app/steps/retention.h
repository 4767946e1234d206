// CRetention carries out -keep N: after a run has given its stamped archive
// its final name, it removes the oldest archives of the same series (the
// same BaseArchiveName, see archive_target.h) from the run's folder, so
// that the newest N remain, the new one among them whatever its stamp.
//
// Only regular files whose names are exactly stamped archive names of the
// series are counted and removed: a name that merely looks like one, a
// numbered backup, a temporary, a symbolic link (even to an archive), a
// folder or anything else is left alone and does not count. The order is
// the stamp in the name, never a file's times. Everything goes through the
// folder's descriptor, and nothing is followed. A manifest is inside its
// archive and goes with it.
//
// The folder is borrowed and must outlive the object; one thread (the run
// driver's) calls Run.
#ifndef KRTLOGS_APP_STEPS_RETENTION_H_
#define KRTLOGS_APP_STEPS_RETENTION_H_

#include <iosfwd>
#include <string>
#include <vector>

class COutputFolder;

class CRetention {
 public:
  // Removals are named on `diagnostics` unless `quiet`; failures always.
  CRetention(const COutputFolder& folder, std::ostream& diagnostics, bool quiet)
      : folder_(folder), diagnostics_(diagnostics), quiet_(quiet) {}

  // Keeps `keep` (at least 1) archives of the series of `base`, `archive`
  // (the run's, in the folder) among them. False when the folder could not
  // be read or an archive could not be removed (said on diagnostics);
  // whatever was removed stays removed.
  bool Run(const std::string& base, const std::string& archive, int keep);

 private:
  // The regular files of the series in the folder, oldest first.
  std::vector<std::string> Series(const std::string& base) const;
  void Diagnose(const std::string& what) const;

  const COutputFolder& folder_;
  std::ostream& diagnostics_;
  const bool quiet_;
};

#endif  // KRTLOGS_APP_STEPS_RETENTION_H_
