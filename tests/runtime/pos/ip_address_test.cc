#include "runtime/pos/ip_address.h"

#include <cerrno>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/error/exception.h"

namespace qo::pos {
namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

// pick_ip_address(list, index) on an output that starts as "unchanged".
std::string Pick(const std::vector<uint32_t>& list, unsigned index) {
  std::string out = "unchanged";
  bool found = pick_ip_address(list, index, out);
  EXPECT_EQ(found, out != "unchanged");
  return out;
}

TEST(IpAddressTest, SkipsLoopbackAndCountsTheRest) {
  const std::vector<uint32_t> list = {Ip(127, 0, 0, 1), Ip(10, 0, 0, 5),
                                      Ip(192, 168, 1, 7)};
  EXPECT_EQ("10.0.0.5", Pick(list, 0));
  EXPECT_EQ("192.168.1.7", Pick(list, 1));
  EXPECT_EQ("unchanged", Pick(list, 2));
}

TEST(IpAddressTest, LoopbackOnly) {
  EXPECT_EQ("unchanged", Pick({Ip(127, 0, 0, 1)}, 0));
  EXPECT_EQ("unchanged", Pick({}, 0));
}

TEST(IpAddressTest, OnlyTheExactLoopbackAddressIsSkipped) {
  const std::vector<uint32_t> list = {Ip(127, 0, 1, 1), Ip(127, 0, 0, 1),
                                      Ip(127, 0, 0, 2), Ip(0, 0, 0, 0)};
  EXPECT_EQ("127.0.1.1", Pick(list, 0));
  EXPECT_EQ("127.0.0.2", Pick(list, 1));
  EXPECT_EQ("0.0.0.0", Pick(list, 2));
}

TEST(IpAddressTest, KeepsTheSystemsOrder) {
  const std::vector<uint32_t> list = {Ip(192, 168, 1, 7), Ip(127, 0, 0, 1),
                                      Ip(10, 0, 0, 5), Ip(192, 168, 1, 7)};
  EXPECT_EQ("192.168.1.7", Pick(list, 0));
  EXPECT_EQ("10.0.0.5", Pick(list, 1));
  EXPECT_EQ("192.168.1.7", Pick(list, 2));
  EXPECT_EQ("255.255.255.255", Pick({Ip(255, 255, 255, 255)}, 0));
}

TEST(IpAddressTest, HostAddressesAgreeWithTheWalk) {
  const std::vector<uint32_t> host = host_ipv4_addresses();
  std::string expected = "unchanged";
  pick_ip_address(host, 0, expected);
  std::string out = "unchanged";
  get_ip_address(out, 0);
  EXPECT_EQ(expected, out);
  EXPECT_EQ(expected == "unchanged" ? "" : expected, ip_address(0));
  EXPECT_NE("127.0.0.1", ip_address(0));
}

int FailingLister(ifaddrs** /*list*/) {
  errno = EACCES;
  return -1;
}

TEST(IpAddressTest, UnreadableInterfaceListThrows) {
  std::string out = "unchanged";
  try {
    get_ip_address(out, 0, FailingLister);
    FAIL() << "no exception";
  } catch (const qo::pos::exception_t& e) {
    EXPECT_STREQ("get_ip_interfaces failed: Permission denied", e.what());
    EXPECT_EQ(EACCES, e.os_error());
  }
  EXPECT_EQ("unchanged", out);
}

}  // namespace
}  // namespace qo::pos
