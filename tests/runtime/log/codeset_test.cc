// Text from units in whatever code set each declares, read by an ORB that
// passes strings as sent: a unit declaring UTF-8 gives its UTF-8 bytes,
// characters beyond Latin-1 included (a converting ORB fails the whole call
// on those); one declaring Latin-1 gives its Latin-1 bytes; one whose
// reference declares nothing gives whatever bytes it sends. Byte for byte,
// through get_last, stream_last and find_next alike.
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/log/log_convert.h"
#include "runtime/log/log_module.h"
#include "tests/runtime/log/entries.h"
#include "tests/runtime/log/giop_peer.h"
#include "tests/runtime/log/test_orb.h"
#include "tests/support/hex.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace qo::log {
namespace {

using test_support::collecting_sink_t;
using test_support::Render;
using testing_support::Hex;

const bool kOrb = test_support::UseTestOrb(qo::corba::char_codes_t::as_sent);

constexpr int kPatienceMs = 60000;

const char kUtf8[] =
    "caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80";  // café 中文 😀
const char kLatin1[] = "caf\xe9 \xff\x80\xa0 \xc0";

// What a unit serves for `texts` (see charset_unit.cc).
std::vector<log_entry_t> Served(const std::vector<std::string>& texts) {
  std::vector<log_entry_t> log(texts.size());
  for (uint32_t i = 0; i < texts.size(); ++i) {
    log[i].s_who = texts[i];
    log[i].severity = static_cast<int32_t>(i);
    log[i].i_what = -static_cast<int32_t>(i);
    log[i].s_what = "what: " + texts[i];
    log[i].when = {2024, 2, 29, 23, 59, 59, i};
    log[i].index = i;
  }
  return log;
}

// A log_charset_unit process declaring `code_set`.
class unit_process_t {
 public:
  unit_process_t(const std::string& code_set,
                 const std::vector<std::string>& texts,
                 const std::string& output)
      : process_(Argv(code_set, texts), output) {}

  // The unit's reference, once it serves; empty if it never does.
  std::string ior() const {
    if (!process_.WaitForOutput("ready", kPatienceMs)) return "";
    const std::string out = process_.Output();
    const size_t at = out.find("ior ");
    return out.substr(at + 4, out.find('\n', at) - at - 4);
  }

 private:
  static std::vector<std::string> Argv(const std::string& code_set,
                                       const std::vector<std::string>& texts) {
    std::vector<std::string> argv = {LOG_CHARSET_UNIT, code_set};
    for (const std::string& text : texts) argv.push_back(Hex(text));
    return argv;
  }

  testing_support::BackgroundProcess process_;
};

TEST(CodeSetTest, EveryUnitsTextArrivesAsTheUnitSentIt) {
  testing_support::TempDir dir;
  const std::vector<std::string> utf8_texts = {kUtf8, "tab\there\nline", ""};
  const std::vector<std::string> latin1_texts = {kLatin1, "plain"};
  const std::vector<std::string> undeclared_texts = {kUtf8, kLatin1,
                                                     "\x01\x7f\x80"};
  unit_process_t utf8("UTF-8", utf8_texts, dir.File("utf8"));
  unit_process_t latin1("ISO-8859-1", latin1_texts, dir.File("latin1"));
  const std::vector<log_entry_t> undeclared_log = Served(undeclared_texts);
  qoc::log::entry_seq_t undeclared_seq;
  copy_entries(log_entry_list_t(undeclared_log.begin(), undeclared_log.end()),
               undeclared_seq);
  giop_test::giop_peer_t undeclared([&](const giop_test::request_t& request) {
    giop_test::answer_t answer;
    answer.body = giop_test::Marshal([&](cdrStream& s) {
      if (request.operation == "find_next") {
        s.marshalBoolean(true);
        undeclared_seq[0] >>= s;
      } else {
        undeclared_seq >>= s;
      }
    });
    return answer;
  });

  const struct {
    const char* name;
    std::string address;
    std::vector<std::string> texts;
  } cases[] = {
      {"declaring UTF-8", utf8.ior(), utf8_texts},
      {"declaring ISO-8859-1", latin1.ior(), latin1_texts},
      {"declaring no code set", undeclared.address(), undeclared_texts},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.address.empty());
    const std::vector<log_entry_t> expected = Served(c.texts);
    const uint32_t size = static_cast<uint32_t>(expected.size());
    std::unique_ptr<manager_if_t> unit(proxy_create(c.address.c_str()));

    log_entry_list_t listed;
    unit->get_last(size, listed);
    EXPECT_EQ(Render(expected), Render(listed));
    collecting_sink_t streamed;
    unit->stream_last(size, streamed);
    EXPECT_EQ(Render(expected), Render(streamed.entries));
    log_entry_t found;
    ASSERT_TRUE(unit->find_next(found, 0, 0, 0));
    EXPECT_EQ(Render(expected[0]), Render(found));
    EXPECT_EQ(Hex(c.texts[0]), Hex(found.s_who));
  }
}

}  // namespace
}  // namespace qo::log
