// The hand-written get_since and get_last (runtime/log/internal/
// entry_list_call.cc) held to the generated stub and skeleton on the wire.
// Against a peer that records what it receives, every request the proxy
// sends must be the stub's byte for byte, and every reply the generated code
// marshals, user exceptions included, must be read by the proxy's list and
// stream forms exactly as the stub reads it. An edit of the IDL that the
// hand-written code does not follow fails here.
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/corba/call.h"
#include "runtime/log/log_convert.h"
#include "runtime/log/log_module.h"
#include "runtime/log/manager_proxy.h"
#include "tests/runtime/log/entries.h"
#include "tests/runtime/log/giop_peer.h"
#include "tests/runtime/log/outcome.h"
#include "tests/runtime/log/test_orb.h"
#include "tests/support/hex.h"

namespace qo::log {
namespace {

using giop_test::answer_t;
using giop_test::giop_peer_t;
using giop_test::request_t;
using test_support::collecting_sink_t;
using test_support::Outcome;
using test_support::Render;
using test_support::ToIdl;
using testing_support::Hex;

const bool kOrb = test_support::UseTestOrb(qo::corba::char_codes_t::latin1);

// Arguments whose four bytes all differ, so that any reordering shows.
constexpr uint32_t kSince = 0x01020304;
constexpr uint32_t kCount = 0xA1B2C3D4;

// Every byte a CORBA string can hold: all but NUL.
std::string AllBytes() {
  std::string bytes;
  for (int b = 1; b <= UCHAR_MAX; ++b) bytes += static_cast<char>(b);
  return bytes;
}

std::vector<log_entry_t> ManyEntries() {
  std::vector<log_entry_t> many(300);
  for (uint32_t i = 0; i < many.size(); ++i) {
    log_entry_t& e = many[i];
    e.s_who = i % 7 == 0 ? "" : "who\t" + std::to_string(i);
    e.severity = i % 5 == 0 ? INT32_MIN : static_cast<int32_t>(i % 5);
    e.i_what = i % 11 == 0 ? INT32_MAX : -static_cast<int32_t>(i);
    e.s_what =
        i % 3 == 0 ? AllBytes() : "two\nlines\tand " + std::string(i % 50, 'x');
    e.when = {1970 + i,
              i % 12 + 1,
              i % 28 + 1,
              i % 24,
              i % 60,
              59,
              i % 2 ? UINT32_MAX : i};
    e.index = UINT32_MAX - i;
  }
  many[150].s_what = std::string(70000, 'L');  // spans several buffers
  return many;
}

qoc::log::manager_i_ptr Stub(const std::unique_ptr<manager_if_t>& proxy) {
  return static_cast<manager_proxy_t*>(proxy.get())->object();
}

TEST(WireGuardTest, RequestsAndRepliesAreTheGeneratedOnes) {
  log_entry_t one;
  one.s_who = "diskd";
  one.severity = 2;
  one.i_what = 1234;
  one.s_what = "low space\ton /var\n\xe9t\xe9 \xff";
  one.when = {2007, 3, 7, 14, 5, 9, 123456};
  one.index = 42;
  const struct {
    const char* name;
    std::vector<log_entry_t> entries;
  } cases[] = {
      {"empty", {}},
      {"one entry", {one}},
      {"many entries", ManyEntries()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const qoc::log::entry_seq_t sent = ToIdl(c.entries);
    const std::string body =
        giop_test::Marshal([&](cdrStream& s) { sent >>= s; });
    giop_peer_t peer([&](const request_t&) {
      answer_t answer;
      answer.body = body;
      return answer;
    });
    std::unique_ptr<manager_if_t> proxy(proxy_create(peer.address().c_str()));
    const std::vector<std::string> expected = Render(c.entries);

    for (bool since : {false, true}) {
      SCOPED_TRACE(since ? "get_since" : "get_last");
      qoc::log::entry_seq_t_var by_stub =
          since ? Stub(proxy)->get_since(kSince, kCount)
                : Stub(proxy)->get_last(kCount);
      log_entry_list_t listed;
      collecting_sink_t streamed;
      if (since) {
        proxy->get_since(kSince, kCount, listed);
        proxy->stream_since(kSince, kCount, streamed);
      } else {
        proxy->get_last(kCount, listed);
        proxy->stream_last(kCount, streamed);
      }
      log_entry_list_t stub_read;
      copy_entries(by_stub.in(), stub_read);
      EXPECT_EQ(expected, Render(stub_read));
      EXPECT_EQ(expected, Render(listed));
      EXPECT_EQ(expected, Render(streamed.entries));
      EXPECT_EQ(std::vector<uint32_t>{static_cast<uint32_t>(c.entries.size())},
                streamed.begins);
    }

    // Per operation: the stub's request, then the list form's and the
    // stream form's.
    const std::vector<request_t> requests = peer.requests();
    ASSERT_EQ(6u, requests.size());
    EXPECT_EQ("get_last", requests[0].operation);
    EXPECT_EQ("get_since", requests[3].operation);
    for (size_t stub : {0, 3}) {
      for (size_t ours : {stub + 1, stub + 2}) {
        EXPECT_EQ(requests[stub].operation, requests[ours].operation);
        EXPECT_EQ(Hex(requests[stub].arguments), Hex(requests[ours].arguments))
            << requests[stub].operation;
      }
    }
  }
}

TEST(WireGuardTest, UserExceptionsAreReadAsTheStubReadsThem) {
  const qoc::errorcode_x coded(0x20000110, "refused: 100%\tdone \xe9");
  const qoc::exception_x plain("no log here %s");
  const qoc::exception_x foreign("from another interface");
  const struct {
    const char* name;
    const char* repository_id;
    const CORBA::UserException* exception;
    std::string outcome;
  } cases[] = {
      {"errorcode_x", qoc::errorcode_x::_PD_repoId, &coded,
       "errorcode|refused: 100%\tdone \xe9|" + std::to_string(0x20000110)},
      {"exception_x", qoc::exception_x::_PD_repoId, &plain,
       "exception|no log here %s"},
      {"outside the raises clause", "IDL:qoc/log/other_x:1.0", &foreign,
       "exception|unknown exception from remote"},
  };
  log_entry_t one;
  one.s_what = "after";
  const qoc::log::entry_seq_t normal = ToIdl({one});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string raised = giop_test::Marshal([&](cdrStream& s) {
      s.marshalRawString(c.repository_id);
      c.exception->_NP_marshal(s);
    });
    const std::string answered =
        giop_test::Marshal([&](cdrStream& s) { normal >>= s; });
    giop_peer_t peer([&](const request_t& request) {
      answer_t answer;
      answer.body = answered;
      if (request.operation == "get_last") {
        answer.status = giop_test::kUserException;
        answer.body = raised;
      }
      return answer;
    });
    std::unique_ptr<manager_if_t> proxy(proxy_create(peer.address().c_str()));
    log_entry_list_t kept = {one, one};
    collecting_sink_t sink;
    EXPECT_EQ(c.outcome, Outcome([&] {
                qo::corba::client_call([&] {
                  qoc::log::entry_seq_t_var seq = Stub(proxy)->get_last(1);
                });
              }));
    EXPECT_EQ(c.outcome, Outcome([&] { proxy->get_last(1, kept); }));
    EXPECT_EQ(c.outcome, Outcome([&] { proxy->stream_last(1, sink); }));
    EXPECT_EQ(2u, kept.size());
    EXPECT_TRUE(sink.begins.empty());

    // Each exception's reply was read whole: the connection carries on.
    proxy->get_since(0, 1, kept);
    EXPECT_EQ(Render(std::vector<log_entry_t>{one}), Render(kept));
    for (const request_t& request : peer.requests()) {
      EXPECT_EQ(1, request.connection) << request.operation;
    }
  }
}

}  // namespace
}  // namespace qo::log
