// CUnitNames gives each unit of a run the name it goes by in what the run
// writes (its log file "KRT<name>.log", the head of its -follow lines): the
// decimal text of its address's last number ("7"); a unit whose last
// number an earlier unit of the run already has goes by its whole address
// ("10.1.3.7"), followed by "_2", "_3", ... should that be taken too.
// Names are given in the order units are taken, so a unit found later
// never renames one named before. A plain value, one thread.
#ifndef KRTLOGS_APP_UNIT_NAMES_H_
#define KRTLOGS_APP_UNIT_NAMES_H_

#include <set>
#include <string>

#include "app/unit_record.h"

class CUnitNames {
 public:
  // The name for `unit`, from now on taken.
  std::string Take(const SKRTRecord& unit);

 private:
  std::set<std::string> last_numbers_;  // the records' names seen
  std::set<std::string> given_;         // every name given
};

#endif  // KRTLOGS_APP_UNIT_NAMES_H_
