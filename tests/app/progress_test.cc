// The status line through a pseudo-terminal: it appears, follows the
// units, and is gone from what the terminal shows, which holds exactly the
// printed lines; a pipe gets the printed lines and nothing else.
#include "app/progress.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace krtlogs_test {
namespace {

// A bound for slow machines, never a timing the test relies on.
constexpr auto kPatience = std::chrono::seconds(60);

// An ostream buffer that writes straight to a descriptor.
class FdBuf : public std::streambuf {
 public:
  explicit FdBuf(int fd) : fd_(fd) {}

 protected:
  int overflow(int c) override {
    if (c == EOF) return 0;
    char byte = static_cast<char>(c);
    return write(fd_, &byte, 1) == 1 ? c : EOF;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return write(fd_, s, static_cast<size_t>(n));
  }

 private:
  int fd_;
};

// What a terminal shows after `bytes`: carriage return, newline and "erase
// to end of line" acted on, everything else printed.
std::vector<std::string> Screen(const std::string& bytes) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    std::string& line = lines.back();
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (bytes.compare(i, 3, "\033[K") == 0) {
      line.resize(column);
      i += 2;
    } else {
      if (column < line.size()) {
        line[column] = c;
      } else {
        line.push_back(c);
      }
      ++column;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    winsize size{};
    size.ws_col = 200;
    size.ws_row = 24;
    ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, &size));
    // Raw output: bytes reach the reader as written.
    termios mode;
    ASSERT_EQ(0, tcgetattr(slave_, &mode));
    cfmakeraw(&mode);
    ASSERT_EQ(0, tcsetattr(slave_, TCSANOW, &mode));
  }
  void TearDown() override {
    close(master_);
    close(slave_);
  }

  // Reads what the terminal got until `wanted` is among it.
  bool ReadUntil(const std::string& wanted) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (received_.find(wanted) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      Drain(100);
    }
    return true;
  }
  // Reads what has arrived, waiting up to `ms` for the first byte.
  void Drain(int ms) {
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
      char buffer[4096];
      ssize_t n = read(master_, buffer, sizeof(buffer));
      if (n <= 0) return;
      received_.append(buffer, static_cast<size_t>(n));
      ms = 0;
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::string received_;
};

TEST_F(ProgressTest, StatusLineFollowsTheUnitsAndLeavesNoTrace) {
  FdBuf buf(slave_);
  std::ostream out(&buf);
  {
    CProgress progress(slave_, true, 3);
    progress.PrintLine(out, "Searching for 3 KRTs ");
    std::unique_ptr<CProgress::CUnit> unit = progress.Start("KRT1 (10.1.2.1)");
    unit->Expect(500);
    unit->Add(120);
    ASSERT_TRUE(
        ReadUntil("0 of 3 units done; reading KRT1 (10.1.2.1): 120 "
                  "of 500 entries"))
        << received_;
    // Entries streamed through the counting sink show as they come.
    struct Discard : qo::log::entry_sink_t {
      void entry(const qo::log::log_entry_t&) override { ++count; }
      int count = 0;
    } inner;
    std::unique_ptr<CProgress::CUnit> second =
        progress.Start("KRT2 (10.1.2.2)");
    CProgress::CCountingSink sink(inner, *second);
    sink.begin(4);
    for (int i = 0; i < 3; ++i) sink.entry(qo::log::log_entry_t());
    EXPECT_EQ(3, inner.count);
    unit.reset();
    ASSERT_TRUE(
        ReadUntil("1 of 3 units done; reading KRT2 (10.1.2.2): 3 of 4 entries"))
        << received_;
    progress.PrintLine(out, "Getting logs from KRT1");
    std::unique_ptr<CProgress::CUnit> third = progress.Start("KRT3 (10.1.2.3)");
    ASSERT_TRUE(ReadUntil("(+1 more)")) << received_;
    progress.PrintLine(out, "Getting logs from KRT2");
    second.reset();
    third.reset();
    ASSERT_TRUE(ReadUntil("3 of 3 units done")) << received_;
  }
  Drain(0);
  // The status line was there and was erased each time a line came.
  EXPECT_NE(std::string::npos, received_.find("\r\033[KGetting logs from KRT1"))
      << received_;
  EXPECT_EQ(std::vector<std::string>({"Searching for 3 KRTs ",
                                      "Getting logs from KRT1",
                                      "Getting logs from KRT2"}),
            Screen(received_))
      << received_;
  // The last bytes take the status line away.
  EXPECT_EQ("\r\033[K", received_.substr(received_.size() - 4));
}

TEST_F(ProgressTest, WhileTheArchiveWaitsTheLineFollowsCompression) {
  std::atomic<uint64_t> done{0};
  {
    CProgress progress(slave_, true, [&done] {
      const uint64_t n = done.load();
      return CProgress::SCompression{3, n, 3000000, n * 1000000 + 45000};
    });
    ASSERT_TRUE(
        ReadUntil("compressing: 0 of 3 logs, 0.0 of 3.0 MB of log "
                  "text"))
        << received_;
    done = 2;
    ASSERT_TRUE(ReadUntil("compressing: 2 of 3 logs, 2.0 of 3.0 MB"))
        << received_;
  }
  Drain(0);
  EXPECT_EQ(std::vector<std::string>(), Screen(received_)) << received_;
}

TEST_F(ProgressTest, TheLineIsCutToTheTerminalWidth) {
  winsize size{};
  size.ws_col = 30;
  size.ws_row = 24;
  ASSERT_EQ(0, ioctl(slave_, TIOCSWINSZ, &size));
  CProgress progress(slave_, true, 100);
  auto unit = progress.Start("KRT200 (10.1.2.200)");
  ASSERT_TRUE(ReadUntil("\033[K")) << received_;
  EXPECT_EQ(std::string("\r") + "0 of 100 units done; reading " + "\033[K",
            received_.substr(0, 33));
}

TEST_F(ProgressTest, OnlyATerminalWithoutQuietGetsAStatusLine) {
  int pipe_fds[2];
  ASSERT_EQ(0, pipe(pipe_fds));
  EXPECT_TRUE(CProgress::Wanted(slave_, false));
  EXPECT_FALSE(CProgress::Wanted(slave_, true));
  EXPECT_FALSE(CProgress::Wanted(pipe_fds[1], false));

  // Disabled, as a pipe gets it: the printed lines and not a byte more,
  // however long the units take.
  {
    FdBuf buf(pipe_fds[1]);
    std::ostream out(&buf);
    CProgress progress(pipe_fds[1], false, 2);
    auto unit = progress.Start("KRT1 (10.1.2.1)");
    unit->Expect(10);
    unit->Add(5);
    progress.PrintLine(out, "Getting logs from KRT1");
    unit.reset();
    progress.PrintLine(out, "done");
  }
  close(pipe_fds[1]);
  std::string got;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof(buffer))) > 0) {
    got.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  EXPECT_EQ("Getting logs from KRT1\ndone\n", got);
}

}  // namespace
}  // namespace krtlogs_test
