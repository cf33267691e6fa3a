#include "server/web/gallery_queries.h"

#include <algorithm>

#include "server/web/request_parsing.h"

namespace corvantis::server {

namespace {

constexpr const char* kEventColumns =
    "SELECT id, start_time, end_time, count, bytes, first_upload, open FROM events ";

GalleryEvent ReadEvent(Statement& row) {
  GalleryEvent event;
  event.id = row.ColumnInt(0);
  event.startText = row.ColumnText(1);
  event.start = ParseTime(event.startText).value_or(TimePoint{});
  event.end = ParseTime(row.ColumnText(2)).value_or(TimePoint{});
  event.count = row.ColumnInt(3);
  event.bytes = row.ColumnInt(4);
  event.firstUpload = row.ColumnInt(5);
  event.open = row.ColumnInt(6) != 0;
  return event;
}

constexpr const char* kSnapshotColumns = "SELECT id, file, time, size, sha256, event FROM uploads ";

GallerySnapshot ReadSnapshot(Statement& row) {
  return {row.ColumnInt(0), row.ColumnText(1), row.ColumnText(2),
          row.ColumnInt(3), row.ColumnText(4), row.ColumnInt(5)};
}

// The id of the account's event next to (start, id) in one direction, or 0.
int64_t Beside(Database& db, const std::string& user, const GalleryEvent& event, bool newer) {
  Statement query(db.handle(),
                  newer ? "SELECT id FROM events WHERE user=? AND (start_time, id) > (?, ?)"
                          " ORDER BY start_time, id LIMIT 1"
                        : "SELECT id FROM events WHERE user=? AND (start_time, id) < (?, ?)"
                          " ORDER BY start_time DESC, id DESC LIMIT 1");
  query.Bind(1, user);
  query.Bind(2, event.startText);
  query.Bind(3, event.id);
  return query.Step() ? query.ColumnInt(0) : 0;
}

}  // namespace

std::string FormatCursor(const std::string& start, int64_t id) {
  return start + "_" + std::to_string(id);
}

std::optional<EventCursor> ParseCursor(const std::string& text, bool newer) {
  const auto mark = text.rfind('_');
  if (mark == std::string::npos) return std::nullopt;
  const std::string start = text.substr(0, mark);
  const auto id = ParseId(std::string_view(text).substr(mark + 1));
  if (!id || !ParseTime(start)) return std::nullopt;
  return EventCursor{start, *id, newer};
}

std::vector<GalleryEvent> ListOwnEvents(Database& db, const std::string& user,
                                        const std::string& from, const std::string& to,
                                        const std::optional<EventCursor>& cursor, int64_t limit) {
  const bool newer = cursor && cursor->newer;
  std::string sql =
      std::string(kEventColumns) + "WHERE user=?1 AND start_time>=?2 AND start_time<?3";
  if (cursor)
    sql += newer ? " AND (start_time, id) > (?4, ?5)" : " AND (start_time, id) < (?4, ?5)";
  sql +=
      newer ? " ORDER BY start_time, id LIMIT ?6" : " ORDER BY start_time DESC, id DESC LIMIT ?6";
  Statement query(db.handle(), sql);
  query.Bind(1, user);
  query.Bind(2, from);
  query.Bind(3, to.empty() ? std::string("~") : to);  // '~' sorts after every stored time
  if (cursor) {
    query.Bind(4, cursor->start);
    query.Bind(5, cursor->id);
  }
  query.Bind(6, limit);
  std::vector<GalleryEvent> events;
  while (query.Step()) events.push_back(ReadEvent(query));
  if (newer) std::reverse(events.begin(), events.end());
  return events;
}

std::optional<GalleryEvent> FindOwnEvent(Database& db, const std::string& user, int64_t id) {
  Statement query(db.handle(), std::string(kEventColumns) + "WHERE id=? AND user=?");
  query.Bind(1, id);
  query.Bind(2, user);
  if (!query.Step()) return std::nullopt;
  return ReadEvent(query);
}

Neighbours EventNeighbours(Database& db, const std::string& user, const GalleryEvent& event) {
  return {Beside(db, user, event, true), Beside(db, user, event, false)};
}

std::optional<GallerySnapshot> FindOwnSnapshot(Database& db, const std::string& user, int64_t id) {
  Statement query(db.handle(), std::string(kSnapshotColumns) + "WHERE id=? AND user=?");
  query.Bind(1, id);
  query.Bind(2, user);
  if (!query.Step()) return std::nullopt;
  return ReadSnapshot(query);
}

std::vector<GallerySnapshot> OwnEventSnapshots(Database& db, const std::string& user, int64_t event,
                                               int64_t after, int64_t limit) {
  Statement query(db.handle(), std::string(kSnapshotColumns) + "WHERE event=?1 AND user=?2" +
                                   (after ? " AND (time, id) > (SELECT time, id FROM uploads"
                                            " WHERE id=?3 AND user=?2)"
                                          : "") +
                                   " ORDER BY time, id LIMIT ?4");
  query.Bind(1, event);
  query.Bind(2, user);
  if (after) query.Bind(3, after);
  query.Bind(4, limit);
  std::vector<GallerySnapshot> snapshots;
  while (query.Step()) snapshots.push_back(ReadSnapshot(query));
  return snapshots;
}

LiveState NewestOfAccount(Database& db, const std::string& user) {
  Statement query(db.handle(),
                  "SELECT u.id, u.time, u.event, e.count, e.open FROM uploads u"
                  " LEFT JOIN events e ON e.id = u.event WHERE u.user=?"
                  " ORDER BY u.time DESC, u.id DESC LIMIT 1");
  query.Bind(1, user);
  LiveState state;
  if (query.Step()) {
    state.snapshot = query.ColumnInt(0);
    state.time = query.ColumnText(1);
    state.event = query.ColumnInt(2);
    state.count = query.ColumnInt(3);
    state.open = query.ColumnInt(4) != 0;
  }
  return state;
}

}  // namespace corvantis::server
