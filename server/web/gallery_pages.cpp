// The gallery's pages: the events list, an event, its deletion and the live picture.
#include <charconv>

#include "server/event_removal.h"
#include "server/log.h"
#include "server/web/gallery.h"
#include "server/web/html.h"
#include "server/web/pages.h"
#include "server/web/request_parsing.h"
#include "server/web/web_responses.h"

namespace corvantis::server {

namespace {

constexpr int64_t kEventsPerPage = 50;
constexpr int64_t kSnapshotsPerPart = 1000;

std::string QueryOf(const WebRequest& request) {
  return std::string(SplitTarget(request.target).query);
}

// A whole number in [low, high], nothing else.
std::optional<int> SmallNumber(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// The stored-time bounds [from, to) of `day` ("2024-05-01") in a time zone `tz` minutes
// behind UTC at the day's start and at its end ("-120,-60", or one number for both, or ""
// for UTC). Nothing for a day or zone of any other shape.
std::optional<std::pair<std::string, std::string>> DayBounds(const std::string& day,
                                                             const std::string& tz) {
  using namespace std::chrono;
  if (day.size() != 10 || day[4] != '-' || day[7] != '-') return std::nullopt;
  const auto y = SmallNumber(std::string_view(day).substr(0, 4), 1970, 9999);
  const auto m = SmallNumber(std::string_view(day).substr(5, 2), 1, 12);
  const auto d = SmallNumber(std::string_view(day).substr(8, 2), 1, 31);
  if (!y || !m || !d) return std::nullopt;
  const year_month_day date{year(*y), month(static_cast<unsigned>(*m)),
                            std::chrono::day(static_cast<unsigned>(*d))};
  if (!date.ok()) return std::nullopt;
  int startOffset = 0, endOffset = 0;
  if (!tz.empty()) {
    const auto comma = tz.find(',');
    const auto first = SmallNumber(std::string_view(tz).substr(0, comma), -1440, 1440);
    const auto second = comma == std::string::npos
                            ? first
                            : SmallNumber(std::string_view(tz).substr(comma + 1), -1440, 1440);
    if (!first || !second) return std::nullopt;
    startOffset = *first;
    endOffset = *second;
  }
  const TimePoint start = sys_days(date) + minutes(startOffset);
  const TimePoint end = sys_days(date) + days(1) + minutes(endOffset);
  return std::pair(FormatTime(start), FormatTime(end));
}

}  // namespace

WebResponse Gallery::EventsPage(const WebRequest& request, Database& db, const Signed& signedIn) {
  const auto query = ParseForm(QueryOf(request)).value_or(FormFields{});
  const std::string day = FieldValue(query, "day").value_or("");
  const std::string tz = FieldValue(query, "tz").value_or("");
  std::string from, to;
  EventsView view;
  if (!day.empty()) {
    const auto bounds = DayBounds(day, tz);
    if (!bounds) return Redirect("/events");
    std::tie(from, to) = *bounds;
    view.day = day;
    view.localDay = !tz.empty();
  }
  std::optional<EventCursor> cursor;
  if (const auto before = FieldValue(query, "before")) cursor = ParseCursor(*before, false);
  if (const auto after = FieldValue(query, "after")) cursor = ParseCursor(*after, true);
  view.events = ListOwnEvents(db, signedIn.session.user, from, to, cursor, kEventsPerPage + 1);
  // One more than a page tells whether there are more beyond it.
  bool more = static_cast<int64_t>(view.events.size()) > kEventsPerPage;
  if (more) {
    if (cursor && cursor->newer) {
      view.events.erase(view.events.begin());
    } else {
      view.events.pop_back();
    }
  }
  std::string filter;
  if (!day.empty()) filter = "day=" + UrlEncode(day) + "&tz=" + UrlEncode(tz) + "&";
  if (!view.events.empty()) {
    const GalleryEvent& newest = view.events.front();
    const GalleryEvent& oldest = view.events.back();
    const bool newerExist = cursor && (!cursor->newer || more);
    const bool olderExist = cursor && cursor->newer ? true : more;
    if (newerExist) {
      view.newer =
          "/events?" + filter + "after=" + UrlEncode(FormatCursor(newest.startText, newest.id));
    }
    if (olderExist) {
      view.older =
          "/events?" + filter + "before=" + UrlEncode(FormatCursor(oldest.startText, oldest.id));
    }
  }
  if (const auto deleted = FieldValue(query, "deleted"); deleted && ParseId(*deleted)) {
    view.notice = "Event " + *deleted + " deleted.";
  }
  return Page(200, "Events", signedIn, "events", EventsMain(view));
}

WebResponse Gallery::EventPage(const WebRequest& request, Database& db, const Signed& signedIn,
                               int64_t id) {
  const std::string& user = signedIn.session.user;
  const auto event = FindOwnEvent(db, user, id);
  if (!event) return NotFound(signedIn.session);
  const auto query = ParseForm(QueryOf(request)).value_or(FormFields{});
  EventView view;
  view.event = *event;
  view.neighbours = EventNeighbours(db, user, *event);
  int64_t after = 0;
  if (const auto text = FieldValue(query, "after")) after = ParseId(*text).value_or(0);
  if (after) {
    // The part's number is only shown; a wrong one shows a wrong number and nothing else.
    const auto number = FieldValue(query, "n");
    view.firstNumber = number ? ParseId(*number).value_or(1) : 1;
    view.earlier = "/events/" + std::to_string(id);
  }
  view.frames = OwnEventSnapshots(db, user, id, after, kSnapshotsPerPart + 1);
  if (static_cast<int64_t>(view.frames.size()) > kSnapshotsPerPart) {
    view.frames.pop_back();
    view.later = "/events/" + std::to_string(id) +
                 "?after=" + std::to_string(view.frames.back().id) +
                 "&n=" + std::to_string(view.firstNumber + kSnapshotsPerPart);
  }
  return Page(200, "Event " + std::to_string(id), signedIn, "events", EventMain(view));
}

WebResponse Gallery::DeletePage(const WebRequest& request, Database& db, const Signed& signedIn,
                                int64_t id) {
  const std::string& user = signedIn.session.user;
  const std::string title = "Delete event " + std::to_string(id);
  auto event = FindOwnEvent(db, user, id);
  if (!event) return NotFound(signedIn.session);
  DeleteView view{*event, signedIn.session.csrf, ""};
  const auto confirm = [&] {
    const auto form = ParseForm(request.body);
    return form && FieldValue(*form, "confirm") == "yes";
  };
  if (request.method == "POST" && confirm()) {
    if (const auto removed = RemoveEvent(db, services_.dataDir, id, user)) {
      WriteLog(services_.log, "web " + request.peer + " user=" + EscapeForLog(user) +
                                  " deleted event=" + std::to_string(id) +
                                  " snapshots=" + std::to_string(removed->count));
      // The live picture may have been one of the event's.
      services_.feed.Replace(user, NewestOfAccount(db, user));
      return Redirect("/events?deleted=" + std::to_string(id));
    }
    event = FindOwnEvent(db, user, id);
    if (!event) return NotFound(signedIn.session);
    view.event = *event;
  }
  if (view.event.open) {
    view.problem =
        "This event is still open: snapshots are still arriving. It can be deleted "
        "once it has closed.";
  }
  return Page(view.problem.empty() ? 200 : 409, title, signedIn, "events", DeleteMain(view));
}

WebResponse Gallery::LivePage(Database& db, const Signed& signedIn) {
  return Page(200, "Live", signedIn, "live", LiveMain(NewestOfAccount(db, signedIn.session.user)),
              true);
}

void Gallery::PrimeLiveFeed(const std::string& user) {
  try {
    auto lease = services_.databases.Take();
    services_.feed.Offer(user, NewestOfAccount(*lease, user));
  } catch (const std::exception& e) {
    WriteLog(services_.log, std::string("web live stream: ") + e.what());
  }
}

}  // namespace corvantis::server
