// Streamed get_last against a peer that misbehaves on purpose: replies cut
// short by a closed connection, and sinks that throw part-way. Entries
// already given stay given, a lost connection arrives as the runtime's
// transport failure and a sink's exception unchanged, no request is ever
// sent twice, and the proxy carries on over a fresh connection.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/log/log_module.h"
#include "tests/runtime/log/entries.h"
#include "tests/runtime/log/giop_peer.h"
#include "tests/runtime/log/outcome.h"
#include "tests/runtime/log/test_orb.h"

namespace qo::log {
namespace {

using giop_test::answer_t;
using giop_test::giop_peer_t;
using giop_test::request_t;
using test_support::collecting_sink_t;
using test_support::Outcome;
using test_support::Render;
using test_support::ToIdl;

const bool kOrb = test_support::UseTestOrb(qo::corba::char_codes_t::latin1);

std::vector<log_entry_t> Log(uint32_t size) {
  std::vector<log_entry_t> log(size);
  for (uint32_t i = 0; i < size; ++i) {
    log[i].s_who = "unit" + std::to_string(i % 13);
    log[i].severity = static_cast<int32_t>(i % 5);
    log[i].s_what = "event " + std::to_string(i) + std::string(80, '.');
    log[i].when = {2024, 1, 2, 3, 4, 5, i};
    log[i].index = 1000 + i;
  }
  return log;
}

// A peer serving `log` whole, except that its first `cuts` replies stop at
// byte `cut` of the message.
std::unique_ptr<giop_peer_t> Peer(const std::vector<log_entry_t>& log,
                                  size_t cuts = 0, size_t cut = 0) {
  const qoc::log::entry_seq_t seq = ToIdl(log);
  const std::string body = giop_test::Marshal([&](cdrStream& s) { seq >>= s; });
  auto served = std::make_shared<size_t>(0);
  return std::make_unique<giop_peer_t>([=](const request_t&) {
    answer_t answer;
    answer.body = body;
    if ((*served)++ < cuts) answer.cut = cut;
    return answer;
  });
}

TEST(StreamTest, AConnectionLostMidReplyFailsTheCallAfterTheEntriesGiven) {
  // Larger than any buffer of the ORB's, so that it is read as it comes.
  constexpr uint32_t kSize = 3000;
  const std::vector<log_entry_t> log = Log(kSize);
  const qoc::log::entry_seq_t seq = ToIdl(log);
  // Where entry n begins in the reply message.
  auto entry_at = [&](size_t n) {
    return giop_test::kReplyBodyOffset + giop_test::Marshal([&](cdrStream& s) {
                                           s.marshalULong(seq.length());
                                           for (size_t i = 0; i < n; ++i)
                                             seq[i] >>= s;
                                         }).size();
  };
  // The ORB reads a reply in pieces and decodes a piece only once it has
  // all of it, so the entries given are those of the pieces that arrived
  // whole: at most the entries before the cut, and most of them.
  const struct {
    const char* name;
    size_t cut;
    size_t whole;  // entries before the cut
  } cases[] = {
      {"right after the count", entry_at(0), 0},
      {"inside an entry's first string", entry_at(1234) + 6, 1234},
      {"inside the last entry's numbers", entry_at(kSize - 1) + 30, kSize - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<giop_peer_t> peer = Peer(log, 2, c.cut);
    std::unique_ptr<manager_if_t> unit(proxy_create(peer->address().c_str()));
    collecting_sink_t sink;
    EXPECT_EQ("corba|",
              Outcome([&] { unit->stream_last(kSize, sink); }).substr(0, 6));
    const size_t given = sink.entries.size();
    EXPECT_LE(given, c.whole);
    EXPECT_GE(given, c.whole / 2);
    EXPECT_EQ(
        Render(std::vector<log_entry_t>(log.begin(), log.begin() + given)),
        Render(sink.entries));
    if (given > 0) {
      EXPECT_EQ(std::vector<uint32_t>{kSize}, sink.begins);
    }

    log_entry_list_t kept = {log[3]};
    EXPECT_EQ("corba|",
              Outcome([&] { unit->get_last(kSize, kept); }).substr(0, 6));
    EXPECT_EQ(Render(std::vector<log_entry_t>{log[3]}), Render(kept));

    unit->get_last(kSize, kept);
    EXPECT_EQ(Render(log), Render(kept));
    const std::vector<request_t> requests = peer->requests();
    ASSERT_EQ(3u, requests.size());  // none sent again
    EXPECT_EQ(3, requests.back().connection);
  }
}

TEST(StreamTest, WhatTheSinkThrowsEndsTheCallUnchanged) {
  constexpr size_t kSize = 2000;
  const std::vector<log_entry_t> log = Log(kSize);
  const struct {
    const char* name;
    bool at_begin;
    size_t at_entry;  // the entry whose delivery throws
    std::function<void()> raise;
    std::string outcome;
  } cases[] = {
      // A transport exception must neither be translated nor make the ORB
      // send the request again.
      {"begin, a CORBA exception", true, 0,
       [] { throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO); }, "raw|TRANSIENT"},
      {"the first entry, a qo error", false, 0,
       [] { throw qo::errorcode_t("disk full", 0x20000110); },
       "errorcode|disk full|" + std::to_string(0x20000110)},
      {"part-way", false, kSize / 2,
       [] { throw std::runtime_error("write failed"); }, "std|write failed"},
      {"the last entry", false, kSize - 1,
       [] { throw qo::exception_t(std::string("no room")); },
       "exception|no room"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<giop_peer_t> peer = Peer(log);
    std::unique_ptr<manager_if_t> unit(proxy_create(peer->address().c_str()));
    collecting_sink_t sink;
    if (c.at_begin) sink.on_begin = c.raise;
    sink.on_entry = [&](size_t n) {
      if (!c.at_begin && n == c.at_entry) c.raise();
    };
    EXPECT_EQ(c.outcome, Outcome([&] { unit->stream_last(kSize, sink); }));
    EXPECT_EQ(c.at_entry, sink.entries.size());

    // The rest of the reply went with its connection.
    EXPECT_TRUE(peer->wait_ended(1));
    collecting_sink_t again;
    unit->stream_last(kSize, again);
    EXPECT_EQ(Render(log), Render(again.entries));
    const std::vector<request_t> requests = peer->requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(2, requests.back().connection);
  }
}

}  // namespace
}  // namespace qo::log
