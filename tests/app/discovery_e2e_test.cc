// Failed discoveries end in time and say why, with standard output and the
// exit status as they always were.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using Strings = std::vector<std::string>;

constexpr uint16_t kRepositoryPort = 4000;

// Accepts connections on 127.0.0.1:4000 and never answers a byte.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kRepositoryPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listening_ = bind(fd_, reinterpret_cast<sockaddr*>(&address),
                      sizeof(address)) == 0 &&
                 listen(fd_, 16) == 0;
    if (listening_) thread_ = std::thread([this] { Accept(); });
  }
  ~SilentListener() {
    shutdown(fd_, SHUT_RDWR);  // ends the accept
    if (thread_.joinable()) thread_.join();
    close(fd_);
    for (int fd : accepted_) close(fd);
  }

  bool listening() const { return listening_; }
  size_t accepted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_.size();
  }

 private:
  void Accept() {
    for (;;) {
      int fd = accept(fd_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      accepted_.push_back(fd);
    }
  }

  int fd_ = -1;
  bool listening_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<int> accepted_;
};

// Ten scans of one 60 s round trip each would take ten minutes; the
// repository's own short limit and the discovery's deadline end it in
// about 15 s. The bound only tells those apart on a loaded machine.
constexpr auto kGenerousBound = std::chrono::seconds(40);

TEST_F(E2eTest, ARepositoryThatNeverAnswersEndsDiscoveryInTime) {
  StopRepository();
  SilentListener listener;
  ASSERT_TRUE(listener.listening());
  auto start = std::chrono::steady_clock::now();
  auto r = Krtlogs({"-n", "2"});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(
      Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
               "Searching for Velto Keys", "Failed to find all KRTs", "done"}),
      Lines(r.out));
  EXPECT_EQ(255, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: Velto repository: keys_get: no answer "
                       "within 3 s [TIMEOUT"))
      << r.err;
  EXPECT_LT(took, kGenerousBound);
  EXPECT_GT(listener.accepted(), 0u);
}

}  // namespace
}  // namespace krtlogs_test
