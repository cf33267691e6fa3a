// How an event is put into words for its receivers: one JSON object for MQTT and the
// webhook, CORVANTIS_* variables for the command, and the words of the log lines.
//
// JSON: {"state":"open","event":12,"user":"alice","start":"2024-05-01T12:03:04.123456Z",
//        "end":"2024-05-01T12:03:04.123456Z","count":1,"bytes":40960,
//        "snapshot":"snapshots/alice/20240501T120304.123456Z-000001.jpeg"}
// "state" is "open" or "closed"; "snapshot" is the event's first snapshot, relative to the
// data directory. A user name that is not UTF-8 has its stray bytes replaced by U+FFFD.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "server/event_hub.h"

namespace corvantis::server {

const char* EventState(const EventSummary& event);

std::string EventJson(const EventSummary& event);

// "CORVANTIS_STATE=open", "CORVANTIS_USER=alice", CORVANTIS_EVENT, CORVANTIS_START,
// CORVANTIS_END, CORVANTIS_COUNT, CORVANTIS_BYTES, and CORVANTIS_SNAPSHOT (the first
// snapshot's absolute path).
std::vector<std::string> EventEnvironment(const EventSummary& event,
                                          const std::filesystem::path& dataDir);

// "event=12 state=open user=alice", for log lines.
std::string EventLogWords(const EventSummary& event);

// Text from a receiver (a command's output, an error message) fit for one log line: blanks
// kept, control bytes, bytes above 0x7e and backslashes written as \xNN.
std::string LogText(std::string_view text);

}  // namespace corvantis::server
