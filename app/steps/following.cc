#include "app/steps/following.h"

#include <algorithm>
#include <iostream>
#include <list>

#include "app/follow/follow_output.h"
#include "app/steps/discovery.h"
#include "app/text_escape.h"
#include "runtime/log/log_types.h"

namespace {

using qo::log::kManagerKeySuffix;

// How often Run looks at the output and, with -all, for new units: every
// round, but no more than once a second.
constexpr double kMinLookSeconds = 1.0;

int MillisecondsUntil(std::chrono::steady_clock::time_point when) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      when - std::chrono::steady_clock::now())
                      .count();
  return static_cast<int>(std::clamp<long long>(ms, 1, 60000));
}

}  // namespace

CFollowing::CFollowing(const SStepIo& io, const SStepSettings& settings,
                       qo::pm::repository_if_t* repository, CFollowOutput& out)
    : io_(io),
      settings_(settings),
      repository_(repository),
      out_(out),
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(settings.options->interval_seconds))),
      say_([this](const std::string& line) { Say(line); }),
      changed_(&mu_) {}

CFollowing::~CFollowing() {
  {
    qo::pproc::plain_lock_t lock(mu_);
    stop_ = true;
    changed_.broadcast();
  }
  for (std::thread& worker : workers_) worker.join();
}

void CFollowing::Say(const std::string& line) {
  qo::pproc::plain_lock_t lock(say_mu_);
  *io_.diagnostics << line << std::endl;
}

void CFollowing::Add(const SKRTRecord& record) {
  keys_.insert(record.key);
  // Named as its log file would be.
  const std::string shown = "KRT" + names_.Take(record);
  SSlot slot;
  slot.unit = std::make_unique<CFollowedUnit>(record, shown, io_, settings_,
                                              out_, say_);
  slot.due = Clock::now();
  slots_.push_back(std::move(slot));
  answering_.push(SDue{slots_.back().due, slots_.size() - 1});
  changed_.broadcast();
}

void CFollowing::LookForNewUnits() {
  std::list<std::string> keys;
  try {
    repository_->keys_get(std::string("*") + kManagerKeySuffix, keys, false);
  } catch (...) {
    return;  // the next look may find the repository again
  }
  for (const std::string& key : keys) {
    {
      qo::pproc::plain_lock_t lock(mu_);
      if (keys_.count(key) != 0) continue;
    }
    std::string address;
    if (!CDiscovery::AddressText(key, address)) continue;
    SKRTRecord record;
    record.key = key;
    try {
      if (!repository_->value_get(key, record.ior)) continue;
    } catch (...) {
      continue;
    }
    record.address = CDiscovery::ParseAddress(key, record.name);
    // A discovery line, on standard error with the other notes.
    Say("Found an KRT at " + EscapeControlCharacters(address));
    qo::pproc::plain_lock_t lock(mu_);
    Add(record);
  }
}

void CFollowing::Work(bool answering) {
  mu_.lock();
  DueQueue& queue = answering ? answering_ : silent_;
  while (!stop_) {
    if (queue.empty()) {
      changed_.wait();
      continue;
    }
    const SDue due = queue.top();
    if (due.when > Clock::now()) {
      changed_.wait_for(MillisecondsUntil(due.when));
      continue;
    }
    queue.pop();
    CFollowedUnit* unit = slots_[due.unit].unit.get();
    mu_.unlock();
    if (!answering && repository_ != nullptr) {
      // It may have come back under another reference.
      std::string ior;
      try {
        if (repository_->value_get(unit->record().key, ior)) {
          unit->SetReference(ior);
        }
      } catch (...) {
      }
    }
    const bool answered = unit->Poll();
    mu_.lock();
    SSlot& slot = slots_[due.unit];
    const Clock::time_point now = Clock::now();
    if (answered) {
      slot.retry_pause = Clock::duration::zero();
      // Rounds keep their pace; one that ran late is not made up twice.
      slot.due = std::max(slot.due + interval_, now);
      answering_.push(SDue{slot.due, due.unit});
    } else if (out_.Closed()) {
      stop_ = true;
    } else {
      const Clock::duration longest =
          std::chrono::duration_cast<Clock::duration>(
              std::chrono::duration<double>(kMaxRetrySeconds));
      slot.retry_pause = slot.retry_pause == Clock::duration::zero()
                             ? interval_
                             : std::min(slot.retry_pause * 2, longest);
      slot.due = now + slot.retry_pause;
      silent_.push(SDue{slot.due, due.unit});
    }
    changed_.broadcast();
  }
  mu_.unlock();
}

void CFollowing::Run(const UnitList& units,
                     const std::function<void()>& on_closed) {
  {
    qo::pproc::plain_lock_t lock(mu_);
    for (const SKRTRecord& unit : units) Add(unit);
  }
  const int jobs = std::max(1, settings_.options->jobs);
  for (int i = 0; i < jobs; ++i) {
    workers_.emplace_back([this] { Work(/*answering=*/true); });
  }
  workers_.emplace_back([this] { Work(/*answering=*/false); });

  const Clock::duration look =
      std::max(interval_, std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(kMinLookSeconds)));
  Clock::time_point next_look = Clock::now() + look;
  for (;;) {
    {
      qo::pproc::plain_lock_t lock(mu_);
      while (!stop_ && Clock::now() < next_look) {
        changed_.wait_for(MillisecondsUntil(next_look));
      }
      if (stop_ || out_.Closed()) break;
    }
    if (out_.Closed()) break;
    if (settings_.options->all && repository_ != nullptr) LookForNewUnits();
    next_look += look;
  }
  on_closed();
}
