// giop_peer_t: a log manager written by hand at the level of GIOP 1.2
// messages, for tests that must see or shape the bytes on the wire. It
// listens on 127.0.0.1 (port chosen by the system), records each request
// and answers it with what the test's responder returns: a reply body
// marshalled by the test (typically with the generated marshalling, as a
// skeleton would), optionally cut short by closing the connection part-way.
// _is_a is answered true and LocateRequest with OBJECT_HERE, as narrowing
// needs. Its reference, a corbaloc address, carries no code set component.
//
// Every connection is served by a thread of its own; all end with the peer.
// The responder runs on those threads, one request at a time.
#ifndef KRTLOGS_TESTS_RUNTIME_LOG_GIOP_PEER_H_
#define KRTLOGS_TESTS_RUNTIME_LOG_GIOP_PEER_H_

#include <omniORB4/CORBA.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace giop_test {

// Where a reply's body begins in its message: after the GIOP header and the
// reply header (request id, status, an empty list of service contexts).
constexpr size_t kReplyBodyOffset = 12 + 4 + 4 + 4;

// GIOP reply statuses the tests send.
constexpr uint32_t kNoException = 0;
constexpr uint32_t kUserException = 1;

struct request_t {
  std::string operation;
  std::string arguments;  // the body after the request header, as sent
  int connection = 0;     // 1 for the first connection accepted, and so on
};

struct answer_t {
  uint32_t status = kNoException;
  std::string body;  // marshalled from an 8-aligned start, in host order
  // When set, only this many bytes of the reply message (header included)
  // are sent before the connection is closed.
  std::optional<size_t> cut;
};

// The bytes `fill` marshals, as a reply body.
std::string Marshal(const std::function<void(cdrStream&)>& fill);

class giop_peer_t {
 public:
  using responder_t = std::function<answer_t(const request_t&)>;

  explicit giop_peer_t(responder_t responder);
  ~giop_peer_t();
  giop_peer_t(const giop_peer_t&) = delete;
  giop_peer_t& operator=(const giop_peer_t&) = delete;

  // corbaloc:iiop:1.2@127.0.0.1:PORT/log
  std::string address() const;
  // The requests given to the responder so far, in order.
  std::vector<request_t> requests();
  // Waits until `connection` has ended (closed by the client, or by the
  // peer after a cut reply); false after a generous deadline.
  bool wait_ended(int connection);

 private:
  void accept_loop();
  void serve(int fd, int connection);

  responder_t responder_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<request_t> requests_;   // guarded by lock_
  std::vector<int> open_fds_;         // guarded by lock_
  std::vector<int> ended_;            // guarded by lock_
  std::vector<std::thread> servers_;  // guarded by lock_
  bool stopping_ = false;             // guarded by lock_
};

}  // namespace giop_test

#endif  // KRTLOGS_TESTS_RUNTIME_LOG_GIOP_PEER_H_
