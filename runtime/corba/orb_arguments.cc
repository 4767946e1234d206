#include "runtime/corba/orb_arguments.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <memory>

#include "runtime/error/exception.h"

namespace qo::corba {

namespace {

constexpr char kScheme[] = "iiop://";

struct endpoint_t {
  std::string host;  // empty: all interfaces
  std::string port;  // empty: chosen by the system
};

[[noreturn]] void refuse(const std::string& endpoint) {
  throw qo::exception_t("unsupported endpoint \"" + endpoint +
                        "\" (expected iiop://, iiop://HOST or "
                        "iiop://HOST:PORT)");
}

bool is_host_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
         c == '_';
}

// "" or a decimal number up to 65535, returned without leading zeros; port
// 0 means the system's choice, like an empty port.
std::string parse_port(const std::string& text, const std::string& endpoint) {
  if (text.empty()) return text;
  unsigned long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) refuse(endpoint);
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) refuse(endpoint);
  }
  return value == 0 ? std::string() : std::to_string(value);
}

endpoint_t parse_endpoint(const std::string& endpoint) {
  if (endpoint.compare(0, sizeof(kScheme) - 1, kScheme) != 0) {
    refuse(endpoint);
  }
  const std::string rest = endpoint.substr(sizeof(kScheme) - 1);
  endpoint_t result;
  std::string::size_type colon = rest.rfind(':');
  if (colon != std::string::npos) {
    result.host = rest.substr(0, colon);
    result.port = parse_port(rest.substr(colon + 1), endpoint);
  } else {
    result.host = rest;
  }
  for (char c : result.host) {
    if (!is_host_char(c)) refuse(endpoint);
  }
  return result;
}

bool is_ipv4_address(const std::string& host) {
  in_addr address;
  return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

}  // namespace

std::string resolve_host(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    throw qo::exception_t("cannot resolve host name \"" + name +
                          "\": " + gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(found, freeaddrinfo);
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text));
  return text;
}

std::vector<std::string> orb_arguments(const std::string& endpoint, bool debug,
                                       unsigned threads, char_codes_t codes,
                                       const host_resolver_t& resolve) {
  if (endpoint.size() > kMaxEndpointLength) {
    throw qo::exception_t(std::string("endpoint string too long"));
  }
  std::vector<std::string> args;
  if (debug) {
    args.insert(args.end(),
                {"-ORBtraceLevel", "25", "-ORBtraceExceptions", "1"});
  } else {
    // omniORB reports its own errors on standard error unless told not to.
    args.insert(args.end(), {"-ORBtraceLevel", "0"});
  }
  if (!endpoint.empty()) {
    endpoint_t parsed = parse_endpoint(endpoint);
    args.insert(args.end(), {"-ORBendPoint",
                             "giop:tcp:" + parsed.host + ":" + parsed.port});
    // omniORB publishes a host as written; references must carry numbers.
    if (!parsed.host.empty() && !is_ipv4_address(parsed.host)) {
      args.insert(args.end(), {"-ORBendPointPublish",
                               "giop:tcp:" + resolve(parsed.host) + ":"});
    }
  }
  // Every concurrent call gets a connection of its own, without a small cap
  // per server; a unit's whole log fits in one reply.
  args.insert(
      args.end(),
      {"-ORBoneCallPerConnection", "1", "-ORBmaxGIOPConnectionPerServer",
       std::to_string(kMaxConnectionsPerServer), "-ORBgiopMaxMsgSize",
       std::to_string(kMaxMessageBytes)});
  args.insert(args.end(),
              {"-ORBnativeCharCodeSet", native_char_code_set(codes)});
  if (codes == char_codes_t::as_sent) {
    args.insert(args.end(),
                {"-ORBscanGranularity", std::to_string(kScanSeconds),
                 "-ORBoutConScanPeriod", std::to_string(kIdleOutgoingSeconds)});
  }
  if (threads > 0) {
    args.insert(args.end(),
                {"-ORBthreadPerConnectionPolicy", "0",
                 "-ORBmaxServerThreadPoolSize", std::to_string(threads)});
  } else {
    args.insert(args.end(), {"-ORBthreadPerConnectionPolicy", "1"});
  }
  return args;
}

}  // namespace qo::corba
