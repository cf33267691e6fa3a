// What the gallery reads from the database. Every lookup names the signed-in account beside
// the id it was given, so an id of another account's event or snapshot finds nothing, the
// same as an id that does not exist. Every query runs on an index (database.h) and reads a
// page at a time, never a whole table or a whole account.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/clock.h"
#include "server/database.h"
#include "server/web/live_feed.h"

namespace corvantis::server {

struct GalleryEvent {
  int64_t id = 0;
  TimePoint start{}, end{};
  std::string startText;  // start as stored (the events list's cursor)
  int64_t count = 0;
  int64_t bytes = 0;
  int64_t firstUpload = 0;  // 0 when unknown
  bool open = false;
};

// Where a page of the events list starts: after (older than) or before (newer than) the
// event with this start and id.
struct EventCursor {
  std::string start;
  int64_t id = 0;
  bool newer = false;  // the page holds the events just newer than the cursor
};
// "2024-05-01T12:03:04.123456Z_12" as the page links write it, and back; nothing for text
// of any other shape.
std::string FormatCursor(const std::string& start, int64_t id);
std::optional<EventCursor> ParseCursor(const std::string& text, bool newer);

// Events of `user`, newest first, with start times in [from, to) (empty: no bound), from the
// cursor on; at most `limit`.
std::vector<GalleryEvent> ListOwnEvents(Database& db, const std::string& user,
                                        const std::string& from, const std::string& to,
                                        const std::optional<EventCursor>& cursor, int64_t limit);

std::optional<GalleryEvent> FindOwnEvent(Database& db, const std::string& user, int64_t id);

// The ids of the account's events just newer and just older than `event` (0 where none).
struct Neighbours {
  int64_t newer = 0, older = 0;
};
Neighbours EventNeighbours(Database& db, const std::string& user, const GalleryEvent& event);

struct GallerySnapshot {
  int64_t id = 0;
  std::string file;  // relative to the data directory
  std::string time;  // as stored
  int64_t size = 0;
  std::string sha256;
  int64_t event = 0;
};

std::optional<GallerySnapshot> FindOwnSnapshot(Database& db, const std::string& user, int64_t id);

// The snapshots of the account's event `event` in the order they were stored, after the
// snapshot `after` (0: from the first); at most `limit`.
std::vector<GallerySnapshot> OwnEventSnapshots(Database& db, const std::string& user, int64_t event,
                                               int64_t after, int64_t limit);

// The account's newest snapshot and its event, for the live page (snapshot 0 when none).
LiveState NewestOfAccount(Database& db, const std::string& user);

}  // namespace corvantis::server
