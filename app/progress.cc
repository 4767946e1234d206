#include "app/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "runtime/pproc/thread.h"

namespace {

using guard_t = qo::pproc::plain_lock_t;

constexpr char kReturn[] = "\r";
constexpr char kEraseToEnd[] = "\033[K";
constexpr int kDefaultColumns = 80;

// The terminal's width; the line stays one column short of it so that the
// cursor never wraps to a line the carriage return cannot reach.
size_t UsableColumns(int fd) {
  winsize size{};
  int columns = kDefaultColumns;
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    columns = size.ws_col;
  }
  return static_cast<size_t>(columns - 1);
}

// `bytes` in MB (10^6 bytes) with one decimal.
std::string Megabytes(uint64_t bytes) {
  const uint64_t tenths = (bytes + 50000) / 100000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

// Redraws the status line every kRedrawMilliseconds until stopped.
class CProgress::CTicker : public qo::pproc::thread_t {
 public:
  explicit CTicker(CProgress* owner) : owner_(owner) {}
  ~CTicker() override { stop(); }

 protected:
  void run() override {
    for (;;) {
      sleep(kRedrawMilliseconds);  // throws when stopped
      owner_->Redraw();
    }
  }

 private:
  CProgress* owner_;
};

bool CProgress::Wanted(int fd, bool quiet) { return !quiet && isatty(fd); }

CProgress::CUnit::CUnit(CProgress* owner, std::string label)
    : owner_(owner), label_(std::move(label)) {}

CProgress::CUnit::~CUnit() {
  if (owner_ != nullptr) owner_->Unregister(this);
}

void CProgress::CCountingSink::begin(uint32_t count) {
  unit_.Expect(count);
  inner_.begin(count);
}

void CProgress::CCountingSink::entry(const qo::log::log_entry_t& entry) {
  inner_.entry(entry);
  unit_.Add();
}

CProgress::CHold::CHold(CProgress& progress) : progress_(progress) {
  progress_.Acquire();
}

CProgress::CHold::~CHold() { progress_.Release(); }

CProgress::CProgress(int fd, bool enabled, size_t total)
    : fd_(fd), enabled_(enabled), total_(total) {
  if (enabled_) {
    ticker_.reset(new CTicker(this));
    ticker_->start();
  }
}

CProgress::CProgress(int fd, bool enabled, CompressionSource compression)
    : fd_(fd),
      enabled_(enabled),
      total_(0),
      compression_(std::move(compression)) {
  if (enabled_) {
    ticker_.reset(new CTicker(this));
    ticker_->start();
  }
}

CProgress::~CProgress() { Finish(); }

std::unique_ptr<CProgress::CUnit> CProgress::Start(const std::string& label) {
  std::unique_ptr<CUnit> unit(new CUnit(enabled_ ? this : nullptr, label));
  if (enabled_) Register(unit.get());
  return unit;
}

void CProgress::PrintLine(std::ostream& out, const std::string& line) {
  CHold hold(*this);
  out << line << '\n';
  out.flush();
}

void CProgress::Finish() {
  {
    guard_t guard(mutex_);
    if (finished_) return;
    finished_ = true;
    Erase();
  }
  // Outside the lock: the ticker may be waiting for it inside Redraw.
  ticker_.reset();
}

void CProgress::Register(CUnit* unit) {
  guard_t guard(mutex_);
  active_.push_back(unit);
}

void CProgress::Unregister(CUnit* unit) {
  guard_t guard(mutex_);
  active_.remove(unit);
  ++done_;
}

void CProgress::Acquire() {
  guard_t guard(mutex_);
  ++holds_;
  Erase();
}

void CProgress::Release() {
  guard_t guard(mutex_);
  --holds_;
}

void CProgress::Redraw() {
  guard_t guard(mutex_);
  if (finished_ || holds_ > 0) return;
  std::string text = Compose();
  size_t columns = UsableColumns(fd_);
  if (text.size() > columns) text.resize(columns);
  if (text == shown_) return;
  Write(kReturn + text + kEraseToEnd);
  shown_ = text;
}

std::string CProgress::Compose() {
  if (compression_) {
    const SCompression c = compression_();
    return "compressing: " + std::to_string(c.logs_done) + " of " +
           std::to_string(c.logs) + " logs, " + Megabytes(c.bytes_done) +
           " of " + Megabytes(c.bytes) + " MB of log text";
  }
  std::string text =
      std::to_string(done_) + " of " + std::to_string(total_) + " units done";
  if (active_.empty()) return text;
  const CUnit& unit = *active_.front();
  const uint64_t received = unit.received_.load(std::memory_order_relaxed);
  text += "; reading " + unit.label_;
  if (unit.expecting_.load(std::memory_order_relaxed)) {
    text += ": " + std::to_string(received) + " of " +
            std::to_string(unit.expected_.load(std::memory_order_relaxed)) +
            " entries";
  } else if (received > 0) {
    text += ": " + std::to_string(received) + " entries";
  }
  if (active_.size() > 1) {
    text += " (+" + std::to_string(active_.size() - 1) + " more)";
  }
  return text;
}

void CProgress::Erase() {
  if (shown_.empty()) return;
  Write(std::string(kReturn) + kEraseToEnd);
  shown_.clear();
}

// A status line is not worth failing the run for: write errors are
// dropped.
void CProgress::Write(const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = write(fd_, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}
