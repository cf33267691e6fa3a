// The gallery's pages as HTML, rendered on the server: each works without script, which only
// adds the flip-book's playing, local times and the live page's updates (assets/gallery.js).
// Everything taken from the database or a request goes through Html() (html.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/clock.h"
#include "server/web/gallery_queries.h"
#include "server/web/live_feed.h"

namespace corvantis::server {

// What every page shares: its title, the account signed in (none on the sign-in page), the
// sign-out form's token and which page of the bar it is.
struct PageFrame {
  std::string title;
  std::optional<std::string> user;
  std::string csrf;
  std::string current;   // "events" or "live": marked in the bar
  bool refresh = false;  // reloads itself every few seconds when script is off (live page)
};

// A whole document around `main`, the page's own content.
std::string RenderPage(const PageFrame& frame, const std::string& main);

struct SignInView {
  std::string next;     // where to go once signed in
  std::string user;     // the name typed last time
  std::string problem;  // why the last try failed ("" none)
};
std::string SignInPage(const SignInView& view);

struct EventsView {
  std::vector<GalleryEvent> events;
  std::string day;           // "2024-05-01", or "" for every day
  bool localDay = false;     // the day is the browser's, not UTC
  std::string newer, older;  // links to the neighbouring pages ("" none)
  std::string notice;        // "Event 12 deleted." ("" none)
};
std::string EventsMain(const EventsView& view);

struct EventView {
  GalleryEvent event;
  Neighbours neighbours;
  std::vector<GallerySnapshot> frames;  // this part of the event's snapshots
  int64_t firstNumber = 1;              // the number of the part's first snapshot
  std::string earlier, later;           // links to the neighbouring parts ("" none)
};
std::string EventMain(const EventView& view);

struct DeleteView {
  GalleryEvent event;
  std::string csrf;
  std::string problem;  // why it cannot be deleted now ("" none)
};
std::string DeleteMain(const DeleteView& view);

std::string LiveMain(const LiveState& state);

// The caption of the live picture: "Event 12 · open · 34 snapshots".
std::string LiveCaption(const LiveState& state);

// A short page for an error: its title and one sentence.
std::string ErrorMain(const std::string& title, const std::string& text);

// Times: "2024-05-01 12:03:04 UTC" as shown without script, the same with milliseconds in
// ISO 8601 for a <time datetime> (which script shows in the browser's time zone).
std::string ShownTime(TimePoint time);
std::string MachineTime(TimePoint time);
// "0 s", "12 s", "3 min 5 s", "2 h 10 min".
std::string ShownLength(std::chrono::microseconds length);
// "40 KB", "1.3 MB".
std::string ShownSize(int64_t bytes);

}  // namespace corvantis::server
