// CProgress keeps one status line on a terminal while units are read:
//
//   2 of 10 units done; reading KRT33 (10.1.2.33): 45000 of 100000 entries
//   (+1 more)
//
// (on one line, cut to the terminal's width), and while the archive waits
// for the last entries to be compressed:
//
//   compressing: 37 of 98 logs, 12.3 of 104.6 MB of log text
//
// A thread of its own redraws
// it at most ten times a second, and only when it changed. Whoever prints a
// line to standard output or standard error while the status line may be
// up does so through PrintLine or under a CHold: the status line is erased
// first (carriage return, erase to end of line) and drawn again only after
// the line is out, so that what the terminal shows of the printed lines is
// exactly what a pipe would get. Finish (or the destructor) erases it for
// good.
//
// A disabled CProgress (standard error not a terminal, or -q) writes
// nothing at all; its units still count, so callers need no second path.
//
// Threads: every member may be called from any thread at once. A CUnit
// belongs to the worker reading that unit; its Add is one relaxed atomic
// increment, cheap enough to call once per log entry.
#ifndef KRTLOGS_APP_PROGRESS_H_
#define KRTLOGS_APP_PROGRESS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>

#include "runtime/log/entry_sink.h"
#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"

class CProgress {
 public:
  static constexpr int kRedrawMilliseconds = 100;  // ten redraws a second

  // Whether a status line belongs on `fd`: it is a terminal and the user
  // did not ask for quiet.
  static bool Wanted(int fd, bool quiet);

  // One unit being read. Made by Start; counts as done when destroyed,
  // whether its reading succeeded or not. Every CUnit must go before the
  // CProgress that made it.
  class CUnit {
   public:
    ~CUnit();
    CUnit(const CUnit&) = delete;
    CUnit& operator=(const CUnit&) = delete;

    // The number of entries the unit is expected to send.
    void Expect(uint64_t entries) {
      expected_.store(entries, std::memory_order_relaxed);
      expecting_.store(true, std::memory_order_relaxed);
    }
    // `n` more entries arrived.
    void Add(uint64_t n = 1) {
      received_.fetch_add(n, std::memory_order_relaxed);
    }

   private:
    friend class CProgress;
    CUnit(CProgress* owner, std::string label);

    CProgress* owner_;  // null when the progress is disabled
    const std::string label_;
    std::atomic<uint64_t> expected_{0};
    std::atomic<uint64_t> received_{0};
    std::atomic<bool> expecting_{false};
  };

  // Hands each entry of a streamed reply on to `inner` and counts it on
  // `unit`; the count the reply announces becomes the unit's expectation.
  class CCountingSink : public qo::log::entry_sink_t {
   public:
    CCountingSink(qo::log::entry_sink_t& inner, CUnit& unit)
        : inner_(inner), unit_(unit) {}
    void begin(uint32_t count) override;
    void entry(const qo::log::log_entry_t& entry) override;

   private:
    qo::log::entry_sink_t& inner_;
    CUnit& unit_;
  };

  // Keeps the status line off the terminal while it lives.
  class CHold {
   public:
    explicit CHold(CProgress& progress);
    ~CHold();
    CHold(const CHold&) = delete;
    CHold& operator=(const CHold&) = delete;

   private:
    CProgress& progress_;
  };

  // How far the archive's compression has come.
  struct SCompression {
    uint64_t logs = 0;        // log files whose entries are being made
    uint64_t logs_done = 0;   // of those, compressed
    uint64_t bytes = 0;       // their text
    uint64_t bytes_done = 0;  // of it, compressed
  };
  // Gives the counts at each redraw; called on the ticker's thread.
  using CompressionSource = std::function<SCompression()>;

  // Draws on `fd` (borrowed, left open) when `enabled`; `total` is the
  // number of units the run reads.
  CProgress(int fd, bool enabled, size_t total);
  // Draws how far compression has come, as `compression` tells it.
  CProgress(int fd, bool enabled, CompressionSource compression);
  ~CProgress();
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;

  // A unit whose reading begins now; `label` names it ("KRT33
  // (10.1.2.33)").
  std::unique_ptr<CUnit> Start(const std::string& label);

  // Erases the status line, writes `line` and a newline to `out` and
  // flushes it, all before the status line can come back.
  void PrintLine(std::ostream& out, const std::string& line);

  // Erases the status line and stops redrawing; later calls draw nothing.
  void Finish();

 private:
  class CTicker;

  void Register(CUnit* unit);
  void Unregister(CUnit* unit);
  void Acquire();
  void Release();
  // Called by the ticker thread.
  void Redraw();
  // The status text, before it is cut to the terminal's width.
  std::string Compose() REQUIRES(mutex_);
  void Erase() REQUIRES(mutex_);
  void Write(const std::string& bytes);

  const int fd_;
  const bool enabled_;
  const size_t total_;
  const CompressionSource compression_;  // empty while units are read
  qo::pproc::plain_mutex_t mutex_;
  std::list<CUnit*> active_ GUARDED_BY(mutex_);  // in the order started
  size_t done_ GUARDED_BY(mutex_) = 0;
  int holds_ GUARDED_BY(mutex_) = 0;
  bool finished_ GUARDED_BY(mutex_) = false;
  std::string shown_ GUARDED_BY(mutex_);  // the text on the terminal, if any
  std::unique_ptr<CTicker> ticker_;
};

#endif  // KRTLOGS_APP_PROGRESS_H_
