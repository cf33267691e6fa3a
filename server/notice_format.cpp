#include "server/notice_format.h"

#include <nlohmann/json.hpp>

#include "server/log.h"

namespace corvantis::server {

const char* EventState(const EventSummary& event) {
  return event.open ? "open" : "closed";
}

std::string EventJson(const EventSummary& event) {
  const nlohmann::ordered_json object = {
      {"state", EventState(event)},   {"event", event.id},
      {"user", event.user},           {"start", FormatTime(event.start)},
      {"end", FormatTime(event.end)}, {"count", event.count},
      {"bytes", event.bytes},         {"snapshot", event.firstFile}};
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::string> EventEnvironment(const EventSummary& event,
                                          const std::filesystem::path& dataDir) {
  return {std::string("CORVANTIS_STATE=") + EventState(event),
          "CORVANTIS_USER=" + event.user,
          "CORVANTIS_EVENT=" + std::to_string(event.id),
          "CORVANTIS_START=" + FormatTime(event.start),
          "CORVANTIS_END=" + FormatTime(event.end),
          "CORVANTIS_COUNT=" + std::to_string(event.count),
          "CORVANTIS_BYTES=" + std::to_string(event.bytes),
          "CORVANTIS_SNAPSHOT=" + (dataDir / event.firstFile).string()};
}

std::string EventLogWords(const EventSummary& event) {
  return "event=" + std::to_string(event.id) + " state=" + EventState(event) +
         " user=" + EscapeForLog(event.user);
}

std::string LogText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') {
      out += c;
    } else {
      out += EscapeForLog(std::string_view(&c, 1));
    }
  }
  return out;
}

}  // namespace corvantis::server
