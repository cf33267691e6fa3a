#include "server/web/pages.h"

#include <cstdio>
#include <ctime>

#include "server/web/html.h"
#include "server/web/web_assets.h"

namespace corvantis::server {

namespace {

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// <time datetime="..."> with the UTC text inside, for script to show in local time.
std::string TimeElement(TimePoint time, const char* id = nullptr, bool timeOnly = false) {
  std::string element = "<time";
  if (id) element += std::string(" id=\"") + id + "\"";
  if (timeOnly) element += " data-show=\"time\"";
  return element + " datetime=\"" + MachineTime(time) + "\">" + ShownTime(time) + "</time>";
}

std::string Link(const std::string& href, const std::string& text, const char* extra = "") {
  return "<a href=\"" + Html(href) + "\"" + extra + ">" + text + "</a>";
}

// A bar of two links, back and forward, each left out where its address is "" (the other
// keeps its side); nothing at all when both are.
std::string TwoWayNav(const char* kind, const std::string& back, const char* backText,
                      const std::string& forward, const char* forwardText) {
  if (back.empty() && forward.empty()) return "";
  return std::string("<nav class=\"") + kind + "\">" +
         (back.empty() ? "<span></span>" : Link(back, backText)) +
         (forward.empty() ? "<span></span>" : Link(forward, forwardText)) + "</nav>\n";
}

std::string SnapshotUrl(int64_t id) {
  return "/snapshots/" + std::to_string(id);
}

std::string ThumbnailUrl(int64_t id) {
  return "/thumbnails/" + std::to_string(id);
}

}  // namespace

std::string ShownTime(TimePoint time) {
  const auto seconds = static_cast<std::time_t>(
      std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count());
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string MachineTime(TimePoint time) {
  // FormatTime's microseconds cut to milliseconds, which every browser parses.
  std::string text = FormatTime(time);
  return text.substr(0, 23) + "Z";
}

std::string ShownLength(std::chrono::microseconds length) {
  const int64_t seconds = std::max<int64_t>(0, length.count() / 1000000);
  if (seconds < 60) return std::to_string(seconds) + " s";
  if (seconds < 3600) {
    return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
  }
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

std::string ShownSize(int64_t bytes) {
  char text[32];
  if (bytes < 1000 * 1000) {
    std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>((bytes + 999) / 1000));
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

std::string RenderPage(const PageFrame& frame, const std::string& main) {
  std::string page =
      "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      Html(frame.title) +
      " · Corvantis</title>\n"
      "<link rel=\"icon\" type=\"image/svg+xml\" href=\"" +
      AssetUrl("icon.svg") +
      "\">\n"
      "<link rel=\"stylesheet\" href=\"" +
      AssetUrl("style.css") +
      "\">\n"
      "<script src=\"" +
      AssetUrl("gallery.js") + "\" defer></script>\n";
  if (frame.refresh) page += "<noscript><meta http-equiv=\"refresh\" content=\"5\"></noscript>\n";
  page +=
      "</head>\n<body>\n<header class=\"bar\">\n<a class=\"brand\" href=\"/events\"><img src=\"" +
      AssetUrl("icon.svg") + "\" alt=\"\">Corvantis</a>\n";
  if (frame.user) {
    auto item = [&](const char* href, const char* name, const char* text) {
      return std::string("<a href=\"") + href + "\"" +
             (frame.current == name ? " aria-current=\"page\"" : "") + ">" + text + "</a>";
    };
    page += "<nav>" + item("/events", "events", "Events") + item("/live", "live", "Live") +
            "</nav>\n<div class=\"account\"><span>" + Html(*frame.user) +
            "</span><form method=\"post\" action=\"/signout\"><input type=\"hidden\" "
            "name=\"csrf\" value=\"" +
            Html(frame.csrf) + "\"><button type=\"submit\">Sign out</button></form></div>\n";
  }
  page += "</header>\n<main>\n" + main + "</main>\n</body>\n</html>\n";
  return page;
}

std::string SignInPage(const SignInView& view) {
  std::string main =
      "<form class=\"signin\" method=\"post\" action=\"/signin\">\n<h1>Sign in</h1>\n";
  if (!view.problem.empty())
    main += "<p class=\"error\" role=\"alert\">" + Html(view.problem) + "</p>\n";
  main +=
      "<label>User name <input type=\"text\" name=\"user\" autocomplete=\"username\" "
      "autocapitalize=\"none\" spellcheck=\"false\" required maxlength=\"30\" value=\"" +
      Html(view.user) +
      "\"></label>\n"
      "<label>Password <input type=\"password\" name=\"password\" "
      "autocomplete=\"current-password\" required maxlength=\"13\"></label>\n"
      "<input type=\"hidden\" name=\"next\" value=\"" +
      Html(view.next) +
      "\">\n<button class=\"primary\" type=\"submit\">Sign in</button>\n</form>\n";
  return RenderPage({"Sign in", std::nullopt, "", "", false}, main);
}

std::string EventsMain(const EventsView& view) {
  std::string main;
  if (!view.notice.empty())
    main += "<p class=\"notice\" role=\"status\">" + Html(view.notice) + "</p>\n";
  main += view.day.empty()
              ? "<h1>Events</h1>\n"
              : "<h1>Events of " + Html(view.day) +
                    (view.localDay ? "" : " <span class=\"muted\">(UTC)</span>") + "</h1>\n";
  main +=
      "<form class=\"filter\" id=\"day-filter\" method=\"get\" action=\"/events\">\n"
      "<label>Day <input type=\"date\" name=\"day\" value=\"" +
      Html(view.day) +
      "\"></label><input type=\"hidden\" name=\"tz\" value=\"\">\n"
      "<button type=\"submit\">Show</button>";
  if (!view.day.empty()) main += " <a href=\"/events\">All days</a>";
  main += "\n</form>\n";
  if (view.events.empty()) {
    main +=
        "<p class=\"muted\">" +
        std::string(view.day.empty() && view.newer.empty() ? "No events yet." : "No events here.") +
        "</p>\n";
  } else {
    main += "<ol class=\"events\">\n";
    for (const GalleryEvent& event : view.events) {
      main += "<li><a href=\"/events/" + std::to_string(event.id) + "\">";
      main += event.firstUpload ? "<img src=\"" + ThumbnailUrl(event.firstUpload) +
                                      "\" alt=\"\" loading=\"lazy\">"
                                : "<img src=\"" + AssetUrl("no-picture.svg") + "\" alt=\"\">";
      main += "<span class=\"facts\"><span class=\"when\">" + TimeElement(event.start) +
              "</span><span>" + ShownLength(event.end - event.start) + "</span><span>" +
              Plural(event.count, "snapshot", "snapshots") + "</span>";
      if (event.open) main += "<span class=\"badge\">open</span>";
      main += "</span></a></li>\n";
    }
    main += "</ol>\n";
  }
  return main + TwoWayNav("pages", view.newer, "← Newer events", view.older, "Older events →");
}

std::string EventMain(const EventView& view) {
  const GalleryEvent& event = view.event;
  const std::string id = std::to_string(event.id);
  std::string main =
      "<h1>Event " + id + (event.open ? " <span class=\"badge\">open</span>" : "") + "</h1>\n";
  main += "<p class=\"facts-line\">" + TimeElement(event.start) + " · " +
          ShownLength(event.end - event.start) + " · " +
          Plural(event.count, "snapshot", "snapshots") + " · " + ShownSize(event.bytes) + "</p>\n";
  const auto eventUrl = [](int64_t other) {
    return other ? "/events/" + std::to_string(other) : std::string();
  };
  main += TwoWayNav("siblings", eventUrl(view.neighbours.newer), "← Newer event",
                    eventUrl(view.neighbours.older), "Older event →");
  if (!view.frames.empty()) {
    const GallerySnapshot& first = view.frames.front();
    const TimePoint firstTime = ParseTime(first.time).value_or(TimePoint{});
    main += "<figure class=\"player\" id=\"player\">\n<a id=\"full\" href=\"" +
            SnapshotUrl(first.id) + "\"><img id=\"frame\" src=\"" + SnapshotUrl(first.id) +
            "\" alt=\"Snapshot " + std::to_string(view.firstNumber) + " of " +
            std::to_string(event.count) + "\"></a>\n<figcaption><span id=\"position\">" +
            std::to_string(view.firstNumber) + " / " + std::to_string(event.count) + "</span>" +
            TimeElement(firstTime, "frame-time", true) +
            "\n<span class=\"controls\" hidden><button id=\"play\" type=\"button\">Play</button>"
            "<input id=\"scrub\" type=\"range\" min=\"0\" max=\"0\" value=\"0\" "
            "aria-label=\"Snapshot\"></span></figcaption>\n</figure>\n";
  }
  main += "<p class=\"actions\"><a class=\"button\" id=\"download\" href=\"/events/" + id +
          "/zip\" download>Download ZIP</a><a class=\"button danger\" href=\"/events/" + id +
          "/delete\">Delete…</a></p>\n";
  main += "<h2>Snapshots</h2>\n<ol class=\"strip\">\n";
  for (const GallerySnapshot& snapshot : view.frames) {
    const TimePoint time = ParseTime(snapshot.time).value_or(TimePoint{});
    main += "<li><a href=\"" + SnapshotUrl(snapshot.id) + "\" data-time=\"" + MachineTime(time) +
            "\"><img src=\"" + ThumbnailUrl(snapshot.id) + "\" alt=\"" + ShownTime(time) +
            "\" loading=\"lazy\"></a></li>\n";
  }
  main += "</ol>\n";
  return main +
         TwoWayNav("pages", view.earlier, "← Earlier snapshots", view.later, "Later snapshots →");
}

std::string DeleteMain(const DeleteView& view) {
  const std::string id = std::to_string(view.event.id);
  std::string main = "<section class=\"confirm\">\n<h1>Delete event " + id + "?</h1>\n<p>" +
                     TimeElement(view.event.start) + ", " +
                     Plural(view.event.count, "snapshot", "snapshots") + " (" +
                     ShownSize(view.event.bytes) + ").</p>\n";
  if (!view.problem.empty()) {
    main += "<p class=\"error\" role=\"alert\">" + Html(view.problem) + "</p>\n<p>" +
            Link("/events/" + id, "Back to the event") + "</p>\n";
  } else {
    main +=
        "<p>Its snapshots are deleted from the server for good.</p>\n"
        "<form method=\"post\" action=\"/events/" +
        id + "/delete\"><input type=\"hidden\" name=\"csrf\" value=\"" + Html(view.csrf) +
        "\"><input type=\"hidden\" name=\"confirm\" value=\"yes\">"
        "<button class=\"danger\" type=\"submit\">Delete event</button>" +
        Link("/events/" + id, "Cancel", " class=\"button\"") + "</form>\n";
  }
  return main + "</section>\n";
}

std::string LiveCaption(const LiveState& state) {
  if (!state.snapshot) return "No snapshot yet";
  return "Event " + std::to_string(state.event) + " · " + (state.open ? "open" : "closed") + " · " +
         Plural(state.count, "snapshot", "snapshots");
}

std::string LiveMain(const LiveState& state) {
  const TimePoint time = ParseTime(state.time).value_or(TimePoint{});
  std::string main = "<h1>Live</h1>\n<figure class=\"live\">\n";
  main += "<img id=\"live\" data-stream=\"/live/stream\" alt=\"The newest snapshot\"";
  main += state.snapshot ? " src=\"" + SnapshotUrl(state.snapshot) + "\">\n" : " hidden>\n";
  if (!state.snapshot) main += "<p id=\"live-empty\" class=\"muted\">No snapshot yet.</p>\n";
  main += "<figcaption>" +
          (state.snapshot ? TimeElement(time, "live-time") : "<time id=\"live-time\"></time>") +
          " · <span id=\"live-caption\">" + Html(LiveCaption(state)) +
          "</span></figcaption>\n</figure>\n";
  return main;
}

std::string ErrorMain(const std::string& title, const std::string& text) {
  return "<h1>" + Html(title) + "</h1>\n<p>" + Html(text) +
         "</p>\n<p><a href=\"/events\">Events</a></p>\n";
}

}  // namespace corvantis::server
