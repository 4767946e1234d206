// Reads the text of a -since state file ({"version": 1, "units": {key:
// {"last_index": n, "log_first": n, "collected": "..."}}}) into records,
// event by event (nlohmann's SAX interface): no document is built, so a
// state of a million units takes its records' memory and time in n log n,
// not the many times more of a parsed document. Members other than these
// are skipped; of a key given twice the last counts. Plain function, any
// thread.
#ifndef KRTLOGS_APP_OUTPUT_STATE_PARSER_H_
#define KRTLOGS_APP_OUTPUT_STATE_PARSER_H_

#include <map>
#include <string>

#include "app/output/since_state.h"

// Fills `units` from `text`; returns why it is not a state file ("not
// valid JSON", "bad record for \"key\"", ...), with `units` left empty,
// or "" when it is one.
std::string ParseStateText(const std::string& text,
                           std::map<std::string, SinceRecord>& units);

#endif  // KRTLOGS_APP_OUTPUT_STATE_PARSER_H_
