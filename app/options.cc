#include "app/options.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <utility>

#include "app/command_line.h"
#include "app/text_escape.h"

namespace {

// The time-out is handed to the ORB in milliseconds, as 32 bits.
constexpr uint32_t kMaxTimeoutSeconds = UINT32_MAX / 1000;

const char* const kHelpOptions[] = {"-h", "-help", "--help"};
const char* const kVersionOptions[] = {"-version", "--version"};

// How an option is written and what follows it.
enum class ValueKind { kNone, kOptional, kRequired };
struct OptionSpelling {
  const char* name;
  ValueKind value;
};
// Every option the tool knows. An optional value is taken only when it does
// not begin with "-"; a required one whatever it holds.
const OptionSpelling kKnownOptions[] = {
    {"-n", ValueKind::kOptional},       {"-N", ValueKind::kOptional},
    {"-s", ValueKind::kOptional},       {"-S", ValueKind::kOptional},
    {"-clear", ValueKind::kNone},       {"-CLEAR", ValueKind::kNone},
    {"-j", ValueKind::kRequired},       {"-timeout", ValueKind::kRequired},
    {"-o", ValueKind::kRequired},       {"-format", ValueKind::kRequired},
    {"-list", ValueKind::kNone},        {"-all", ValueKind::kNone},
    {"-partial", ValueKind::kNone},     {"-keep-going", ValueKind::kNone},
    {"-q", ValueKind::kNone},           {"-manifest", ValueKind::kNone},
    {"-since", ValueKind::kNone},       {"-stamp", ValueKind::kNone},
    {"-noclobber", ValueKind::kNone},   {"-keep", ValueKind::kRequired},
    {"-metrics", ValueKind::kRequired}, {"-follow", ValueKind::kNone},
    {"-tail", ValueKind::kRequired},    {"-interval", ValueKind::kRequired},
};

// The arguments that are neither a known option nor an option's value.
std::vector<std::string> UnknownArguments(const std::vector<std::string>& a) {
  std::vector<std::string> unknown;
  for (size_t i = 0; i < a.size(); ++i) {
    const OptionSpelling* known = nullptr;
    for (const OptionSpelling& option : kKnownOptions) {
      if (a[i] == option.name) known = &option;
    }
    if (known == nullptr) {
      unknown.push_back(a[i]);
      continue;
    }
    const bool has_next = i + 1 < a.size();
    if (known->value == ValueKind::kRequired && has_next) ++i;
    if (known->value == ValueKind::kOptional && has_next &&
        (a[i + 1].empty() || a[i + 1][0] != '-')) {
      ++i;
    }
  }
  return unknown;
}

// A usage error: the message of the one line the tool prints.
struct UsageError {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
  throw UsageError{"krtlogs: " + message + " (see krtlogs -help)"};
}

std::string Quoted(const std::string& text) {
  return "'" + EscapeControlCharacters(text) + "'";
}

// The count's text read as stream extraction into an int reads it: blanks
// skipped, an optional sign, the digits up to the first other character.
// No digits at all gives the default count; digits that do not fit an int
// are a usage error.
int ParseCount(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
    return kDefaultUnitCount;
  }
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
       ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) {
    Fail("the count " + Quoted(text) + " is too large");
  }
  return static_cast<int>(value);
}

// A whole decimal number, nothing else, within [low, high].
bool ParseWhole(const std::string& text, unsigned long long low,
                unsigned long long high, unsigned long long& out) {
  if (text.empty() || text.size() > 19) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
}

// Seconds as a decimal number ("1", "0.25", "2.5"), nothing else, within
// [low, high]. At most six digits after the point: finer is no clock's.
bool ParseSeconds(const std::string& text, double low, double high,
                  double& out) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction =
      point == std::string::npos ? "" : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return false;
  if (whole.size() > 9 || fraction.size() > 6) return false;
  if (point != std::string::npos && fraction.empty()) return false;
  double value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  double scale = 0.1;
  for (char c : fraction) {
    if (c < '0' || c > '9') return false;
    value += (c - '0') * scale;
    scale /= 10;
  }
  // The bounds are met as written: "0.1" is 0.1, not a hair below it.
  if (value < low - 1e-9 || value > high + 1e-9) return false;
  out = value;
  return true;
}

// The value of a newer option: the next argument, which must exist.
std::string StrictValue(CCommandLine& line, const std::string& option,
                        const char* what) {
  std::string value;
  if (!line.GetAnyValue(value)) Fail(option + " needs " + what);
  if (value.empty()) Fail(option + " needs " + what + ", not an empty text");
  return value;
}

bool FindOption(CCommandLine& line, const char* first, const char* second) {
  return line.Find(first) || line.Find(second);
}

void ParseOriginalOptions(CCommandLine& line, RunOptions& o) {
  if (FindOption(line, "-n", "-N")) {
    o.counted = true;
    std::string text;
    line.GetValue(text);
    o.count = ParseCount(text);
  }
  if (FindOption(line, "-s", "-S")) {
    o.single = true;
    line.GetValue(o.address);
    // The address becomes part of the archive's name, which must stay in
    // the output folder.
    if (o.address.find('/') != std::string::npos) {
      Fail("the address " + Quoted(o.address) + " must not contain '/'");
    }
  }
  if (!o.counted && !o.single) o.count = kDefaultUnitCount;
  o.clear = FindOption(line, "-clear", "-CLEAR");
}

void ParseNewerOptions(CCommandLine& line, RunOptions& o) {
  if (line.Find("-j")) {
    std::string text = StrictValue(line, "-j", "a number of units");
    unsigned long long jobs = 0;
    if (!ParseWhole(text, 1, INT_MAX, jobs)) {
      Fail("-j needs a whole number of at least 1, not " + Quoted(text));
    }
    o.jobs = static_cast<int>(jobs);
  }
  if (line.Find("-timeout")) {
    std::string text = StrictValue(line, "-timeout", "a number of seconds");
    unsigned long long seconds = 0;
    if (!ParseWhole(text, 0, kMaxTimeoutSeconds, seconds)) {
      Fail("-timeout needs a whole number of seconds from 0 to " +
           std::to_string(kMaxTimeoutSeconds) + ", not " + Quoted(text));
    }
    o.timeout_seconds = static_cast<uint32_t>(seconds);
  }
  if (line.Find("-o")) {
    std::string dir = StrictValue(line, "-o", "a folder");
    if (dir[0] == '-') {
      Fail("-o needs a folder, not the option " + Quoted(dir) + " (write ./" +
           EscapeControlCharacters(dir) + " for a folder of that name)");
    }
    // "out/" and "out" name the same folder; keep "/" itself.
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    o.output_dir = dir;
    o.output_dir_given = true;
  }
  if (line.Find("-format")) {
    std::string format = StrictValue(line, "-format", "tsv or jsonl");
    if (format == "tsv") {
      o.format = LogFormat::kTsv;
    } else if (format == "jsonl") {
      o.format = LogFormat::kJsonl;
    } else {
      Fail("-format needs tsv or jsonl, not " + Quoted(format));
    }
  }
  if (line.Find("-keep")) {
    std::string text = StrictValue(line, "-keep", "a number of archives");
    unsigned long long keep = 0;
    if (!ParseWhole(text, 1, INT_MAX, keep)) {
      Fail("-keep needs a whole number of at least 1, not " + Quoted(text));
    }
    o.keep = static_cast<int>(keep);
  }
  if (line.Find("-metrics")) {
    std::string file = StrictValue(line, "-metrics", "a file");
    if (file[0] == '-') {
      Fail("-metrics needs a file, not the option " + Quoted(file) +
           " (write ./" + EscapeControlCharacters(file) +
           " for a file of that name)");
    }
    if (file.back() == '/') {
      Fail("-metrics needs a file, not the folder " + Quoted(file));
    }
    o.metrics_file = file;
  }
  if (line.Find("-tail")) {
    std::string text = StrictValue(line, "-tail", "a number of entries");
    unsigned long long tail = 0;
    if (!ParseWhole(text, 0, UINT32_MAX, tail)) {
      Fail("-tail needs a whole number of entries, 0 or more, not " +
           Quoted(text));
    }
    o.tail = static_cast<uint32_t>(tail);
    o.tail_given = true;
  }
  if (line.Find("-interval")) {
    std::string text = StrictValue(line, "-interval", "a number of seconds");
    if (!ParseSeconds(text, kMinFollowIntervalSeconds,
                      kMaxFollowIntervalSeconds, o.interval_seconds)) {
      Fail(
          "-interval needs seconds from 0.1 to 3600 (such as 1 or 0.5), "
          "not " +
          Quoted(text));
    }
    o.interval_given = true;
  }
  o.follow = line.Find("-follow");
  o.list = line.Find("-list");
  o.all = line.Find("-all");
  o.partial = line.Find("-partial");
  o.keep_going = line.Find("-keep-going");
  o.quiet = line.Find("-q");
  o.manifest = line.Find("-manifest");
  o.since = line.Find("-since");
  o.stamp = line.Find("-stamp") || o.since;
  o.noclobber = line.Find("-noclobber");
}

void CheckCombinations(const RunOptions& o) {
  if (o.all && o.single) Fail("-all and -s exclude each other");
  if (o.all && o.counted) Fail("-all and -n exclude each other");
  if (o.partial && o.single) Fail("-partial needs a count of units, not -s");
  if (o.partial && o.all) Fail("-partial and -all exclude each other");
  if (!o.follow && o.tail_given) Fail("-tail needs -follow");
  if (!o.follow && o.interval_given) Fail("-interval needs -follow");
  if (o.follow) {
    // Following writes standard output only: no files, no archive, no
    // state.
    const std::pair<bool, const char*> excluded[] = {
        {o.clear, "-clear"},
        {o.list, "-list"},
        {o.output_dir_given, "-o"},
        {o.manifest, "-manifest"},
        {o.since, "-since"},
        {o.stamp, "-stamp"},
        {o.keep > 0, "-keep"},
        {o.noclobber, "-noclobber"},
        {!o.metrics_file.empty(), "-metrics"},
    };
    for (const auto& option : excluded) {
      if (option.first) {
        Fail(std::string("-follow prints to standard output and writes no "
                         "file: not with ") +
             option.second);
      }
    }
  }
  // Archives are told apart by the stamp in their names; an unstamped
  // archive replaces its predecessor and leaves nothing to keep.
  if (o.keep > 0 && !o.stamp) Fail("-keep needs -stamp or -since");
  if (!o.metrics_file.empty() && (o.clear || o.list)) {
    Fail("-metrics describes a run that collects, not -clear or -list");
  }
  if (o.keep > 0 && (o.clear || o.list)) {
    Fail("-keep needs a run that writes an archive, not -clear or -list");
  }
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine parsed;
  CCommandLine line(argc, argv);
  parsed.options.arguments = line.arguments();
  // Help and version win over everything else, wherever they stand.
  for (const std::string& a : line.arguments()) {
    for (const char* h : kHelpOptions) {
      if (a == h) {
        parsed.action = Action::kHelp;
        return parsed;
      }
    }
    for (const char* v : kVersionOptions) {
      if (a == v) {
        parsed.action = Action::kVersion;
        return parsed;
      }
    }
  }
  try {
    ParseOriginalOptions(line, parsed.options);
    ParseNewerOptions(line, parsed.options);
    CheckCombinations(parsed.options);
  } catch (const UsageError& e) {
    parsed.action = Action::kUsageError;
    parsed.error = e.message;
    return parsed;
  }
  parsed.unknown = UnknownArguments(line.arguments());
  return parsed;
}

std::string UsageText() {
  return std::string(
      "usage: krtlogs [-n COUNT | -s ADDRESS | -all] [-clear] [options]\n"
      "\n"
      "Collects the logs of the KRT units published in the Velto repository\n"
      "on this host into a zip archive, or empties them with -clear.\n"
      "\n"
      "  -n COUNT        wait for COUNT units (default 10, also when COUNT is "
      "missing\n"
      "                  or holds no digits); also -N\n"
      "  -s ADDRESS      only the unit at the dotted IPv4 ADDRESS; also -S\n"
      "  -all            every unit published, however many\n"
      "  -clear          empty the units' logs instead of fetching them; "
      "also -CLEAR\n"
      "  -list           show each unit's name, address, first index, end "
      "(one past\n"
      "                  the last index) and entries; fetch and clear "
      "nothing\n"
      "  -j N            retrieve up to N units at once (default 1)\n"
      "  -timeout SECS   time limit of every call to a unit (default 60, 0 = "
      "none)\n"
      "  -o DIR          write the files and the archive into DIR (created "
      "when missing)\n"
      "  -partial        with -n: go on with the units found when fewer "
      "turn up\n"
      "  -keep-going     with -clear: go on clearing past a unit that fails\n"
      "  -format FORMAT  log files as tsv (default) or jsonl\n"
      "  -manifest       add MANIFEST.json and SHA256SUMS to the archive\n"
      "  -since          only the entries not collected by the last -since "
      "run (implies -stamp)\n"
      "  -stamp          put the start time (UTC) into the archive's name\n"
      "  -noclobber      stop when the archive already exists\n"
      "  -keep N         with -stamp or -since: keep only the newest N "
      "stamped archives\n"
      "                  of this kind in the folder, the new one included\n"
      "  -metrics FILE   write the run's outcome to FILE in the Prometheus "
      "text\n"
      "                  format (for node_exporter's textfile collector)\n"
      "  -follow         print each unit's newest entries, then every new "
      "entry as it\n"
      "                  arrives, to standard output until interrupted "
      "(no files)\n"
      "  -tail K         with -follow: the newest K entries of each unit "
      "first\n"
      "                  (default 10, 0 for none)\n"
      "  -interval SECS  with -follow: ask the units every SECS seconds "
      "(default 1,\n"
      "                  at least 0.1)\n"
      "  -q              no summary and no progress display\n"
      "  -h, -help       show this text; also --help\n"
      "  -version        show the version; also --version\n"
      "\n"
      "Exit status:\n"
      "  0      everything succeeded (units with empty logs included); "
      "-follow\n"
      "         ended by a signal or a closed standard output\n"
      "  1      a unit, a log file, the archive, the state file or a clear\n"
      "         failed (-clear stops at the first unit that fails, unless\n"
      "         -keep-going); a unit sent fewer entries than it announced "
      "(its\n"
      "         file is archived); -partial went on with fewer units; a -list\n"
      "         range failed or the listing could not be written; or, before "
      "any\n"
      "         unit is asked, another run holds the folder or it cannot be "
      "used,\n"
      "         -noclobber found the archive, or an older archive there cannot "
      "be\n"
      "         replaced; or an archive -keep should remove could not be\n"
      "         removed\n"
      "  2      bad command line (one line on standard error; nothing "
      "contacted)\n"
      "  255    the units could not be found\n"
      "  128+n  interrupted by signal n (129 SIGHUP, 130 SIGINT, 143 "
      "SIGTERM);\n"
      "         the unfinished files are removed\n");
}

const char* Version() { return KRTLOGS_VERSION; }
