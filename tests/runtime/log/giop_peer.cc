#include "tests/runtime/log/giop_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace giop_test {

namespace {

// GIOP 1.2 message layout: a 12-byte header (magic, version, flags, type,
// body size), then the body; alignment counts from the header's first byte.
constexpr size_t kHeaderSize = 4 + 2 + 1 + 1 + 4;
constexpr char kMagic[] = "GIOP";
constexpr uint8_t kMajor = 1;
constexpr uint8_t kMinor = 2;
constexpr uint8_t kLittleEndianFlag = 1;
constexpr uint8_t kRequest = 0;
constexpr uint8_t kReply = 1;
constexpr uint8_t kLocateRequest = 3;
constexpr uint8_t kLocateReply = 4;
constexpr uint32_t kObjectHere = 1;
constexpr size_t kBodyAlignment = 8;
constexpr char kObjectKey[] = "log";
constexpr auto kPatience = std::chrono::seconds(60);

// Reads CDR numbers and strings out of one message.
class reader_t {
 public:
  reader_t(const std::string& message, bool little)
      : message_(message), little_(little) {}

  uint32_t number(size_t size) {
    pos_ = (pos_ + size - 1) / size * size;
    const size_t at = take(size);
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) {
      const size_t k = little_ ? size - 1 - i : i;
      value = (value << 8) | static_cast<uint8_t>(message_[at + k]);
    }
    return value;
  }
  std::string octets(size_t n) { return message_.substr(take(n), n); }
  void skip_to(size_t at) { pos_ = std::min(at, message_.size()); }
  size_t pos() const { return pos_; }

 private:
  size_t take(size_t n) {
    if (pos_ + n > message_.size()) throw std::runtime_error("short message");
    const size_t at = pos_;
    pos_ += n;
    return at;
  }

  const std::string& message_;
  const bool little_;
  size_t pos_ = kHeaderSize;
};

void put_number(std::string& out, uint32_t value) {
  char bytes[sizeof(value)];
  memcpy(bytes, &value, sizeof(value));  // host order, as the flags say
  out.append(bytes, sizeof(bytes));
}

std::string message(uint8_t type, const std::string& body) {
  std::string out(kMagic, 4);
  out += static_cast<char>(kMajor);
  out += static_cast<char>(kMinor);
  out += static_cast<char>(omni::myByteOrder ? kLittleEndianFlag : 0);
  out += static_cast<char>(type);
  put_number(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

bool read_exactly(int fd, std::string& out, size_t n) {
  out.resize(n);
  for (size_t done = 0; done < n;) {
    const ssize_t got = recv(fd, &out[done], n - done, 0);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool write_all(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t sent =
        send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

std::string Marshal(const std::function<void(cdrStream&)>& fill) {
  cdrMemoryStream stream;
  fill(stream);
  return std::string(static_cast<const char*>(stream.bufPtr()),
                     stream.bufSize());
}

giop_peer_t::giop_peer_t(responder_t responder)
    : responder_(std::move(responder)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, SOMAXCONN) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) !=
          0) {
    throw std::runtime_error("giop_peer_t: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

giop_peer_t::~giop_peer_t() {
  std::vector<std::thread> servers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    for (int fd : open_fds_) shutdown(fd, SHUT_RDWR);
  }
  shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(lock_);
    servers.swap(servers_);
  }
  for (std::thread& server : servers) server.join();
  close(listener_);
}

std::string giop_peer_t::address() const {
  return "corbaloc:iiop:1.2@127.0.0.1:" + std::to_string(port_) + "/" +
         kObjectKey;
}

std::vector<request_t> giop_peer_t::requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool giop_peer_t::wait_ended(int connection) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, kPatience, [&] {
    return std::count(ended_.begin(), ended_.end(), connection) > 0;
  });
}

void giop_peer_t::accept_loop() {
  for (int connection = 1;; ++connection) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // shut down
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) {
      close(fd);
      return;
    }
    open_fds_.push_back(fd);
    servers_.emplace_back([this, fd, connection] { serve(fd, connection); });
  }
}

void giop_peer_t::serve(int fd, int connection) {
  std::string header;
  std::string body;
  while (read_exactly(fd, header, kHeaderSize)) {
    const bool little = (header[6] & kLittleEndianFlag) != 0;
    const uint8_t type = static_cast<uint8_t>(header[7]);
    reader_t size_reader(header, little);
    size_reader.skip_to(8);
    if (header.compare(0, 4, kMagic) != 0 || header[4] != kMajor ||
        header[5] != kMinor || !read_exactly(fd, body, size_reader.number(4))) {
      break;
    }
    const std::string received = header + body;
    reader_t in(received, little);
    const uint32_t request_id = in.number(4);
    std::string reply_head;
    put_number(reply_head, request_id);
    if (type == kLocateRequest) {
      put_number(reply_head, kObjectHere);
      if (!write_all(fd, message(kLocateReply, reply_head))) break;
      continue;
    }
    if (type != kRequest) break;
    in.octets(4);  // response flags, reserved
    in.number(2);  // target address: by object key
    in.octets(in.number(4));
    request_t request;
    request.operation = in.octets(in.number(4));
    request.operation.pop_back();  // its NUL
    request.connection = connection;
    for (uint32_t n = in.number(4); n > 0; --n) {  // service contexts
      in.number(4);
      in.octets(in.number(4));
    }
    in.skip_to((in.pos() + kBodyAlignment - 1) / kBodyAlignment *
               kBodyAlignment);
    request.arguments = received.substr(in.pos());

    answer_t answer;
    if (request.operation == "_is_a") {
      answer.body = std::string(1, '\1');
    } else {
      {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
      }
      answer = responder_(request);
    }
    put_number(reply_head, answer.status);
    put_number(reply_head, 0);  // no service contexts; body is 8-aligned
    std::string reply = message(kReply, reply_head + answer.body);
    if (answer.cut) reply.resize(*answer.cut);
    if (!write_all(fd, reply) || answer.cut) break;
  }
  std::lock_guard<std::mutex> guard(lock_);
  open_fds_.erase(std::find(open_fds_.begin(), open_fds_.end(), fd));
  close(fd);
  ended_.push_back(connection);
  changed_.notify_all();
}

}  // namespace giop_test
