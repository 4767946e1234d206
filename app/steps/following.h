// CFollowing is the step of -follow: it prints the entries of the units
// discovery found to standard output as they arrive, until standard output
// closes (or a signal ends the process). Every -interval each unit is
// asked for its range and what is new (CFollowedUnit), up to -j units at
// once on worker threads of its own; a unit that stops answering leaves
// them for one thread that asks it again after a growing pause (the
// interval, doubled each time, up to kMaxRetrySeconds), first looking up
// the reference the unit publishes now, so the others go on. With -all the
// repository is asked every round for units published later, which are
// followed from then on ("Found an KRT at ..." on standard error).
//
// The io, settings, repository and output are borrowed and must outlive
// Run. One thread (the driver's) calls Run.
#ifndef KRTLOGS_APP_STEPS_FOLLOWING_H_
#define KRTLOGS_APP_STEPS_FOLLOWING_H_

#include <chrono>
#include <functional>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/follow/followed_unit.h"
#include "app/steps/step_context.h"
#include "app/unit_names.h"
#include "app/unit_record.h"
#include "runtime/pm/repository_if.h"
#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

class CFollowOutput;

class CFollowing {
 public:
  static constexpr double kMaxRetrySeconds = 60;

  // `repository` may be null: no unit is added later and references are
  // not looked up again.
  CFollowing(const SStepIo& io, const SStepSettings& settings,
             qo::pm::repository_if_t* repository, CFollowOutput& out);
  ~CFollowing();
  CFollowing(const CFollowing&) = delete;
  CFollowing& operator=(const CFollowing&) = delete;

  // Follows `units` until standard output closes; then runs `on_closed`
  // (the driver ends the process there, without waiting for a unit that
  // hangs) and, should it return, stops the workers and returns.
  void Run(const UnitList& units, const std::function<void()>& on_closed);

 private:
  using Clock = std::chrono::steady_clock;
  struct SDue {
    Clock::time_point when;
    size_t unit;
    bool operator>(const SDue& other) const { return when > other.when; }
  };
  using DueQueue =
      std::priority_queue<SDue, std::vector<SDue>, std::greater<SDue>>;
  struct SSlot {
    std::unique_ptr<CFollowedUnit> unit;
    Clock::time_point due;
    Clock::duration retry_pause{};  // zero while the unit answers
  };

  void Add(const SKRTRecord& record) REQUIRES(mu_);
  // Adds the units published since the last look; on Run's thread.
  void LookForNewUnits() EXCLUDES(mu_);
  // A worker of one queue: the units that answer, or those that do not.
  void Work(bool answering) EXCLUDES(mu_);
  void Say(const std::string& line) EXCLUDES(say_mu_);

  const SStepIo io_;
  const SStepSettings& settings_;
  qo::pm::repository_if_t* const repository_;
  CFollowOutput& out_;
  const Clock::duration interval_;
  const CFollowedUnit::Say say_;

  qo::pproc::plain_mutex_t say_mu_;

  qo::pproc::plain_mutex_t mu_;
  qo::pproc::plain_cond_t changed_;  // a unit is due, or the run ends
  // Slots are added, never removed; each unit sits in one queue or is
  // being polled by the one worker that took it out.
  std::vector<SSlot> slots_ GUARDED_BY(mu_);
  DueQueue answering_ GUARDED_BY(mu_);
  DueQueue silent_ GUARDED_BY(mu_);
  std::set<std::string> keys_ GUARDED_BY(mu_);
  CUnitNames names_ GUARDED_BY(mu_);
  bool stop_ GUARDED_BY(mu_) = false;
  std::vector<std::thread> workers_;
};

#endif  // KRTLOGS_APP_STEPS_FOLLOWING_H_
