#include "server/events.h"

#include <algorithm>

namespace corvantis::server {

namespace {

constexpr const char* kSummaryColumns =
    "SELECT e.id, e.user, e.start_time, e.end_time, e.count, e.bytes, u.file, e.open,"
    " e.first_upload FROM events e LEFT JOIN uploads u ON u.id = e.first_upload ";

TimePoint TimeOrEpoch(const std::string& text) {
  return ParseTime(text).value_or(TimePoint{});
}

EventSummary ReadSummary(Statement& row) {
  EventSummary event;
  event.id = row.ColumnInt(0);
  event.user = row.ColumnText(1);
  event.start = TimeOrEpoch(row.ColumnText(2));
  event.end = TimeOrEpoch(row.ColumnText(3));
  event.count = row.ColumnInt(4);
  event.bytes = row.ColumnInt(5);
  event.firstFile = row.ColumnText(6);
  event.open = row.ColumnInt(7) != 0;
  return event;
}

std::vector<EventSummary> ReadSummaries(Statement& query) {
  std::vector<EventSummary> events;
  while (query.Step()) events.push_back(ReadSummary(query));
  return events;
}

}  // namespace

EventBook::EventBook(Database& db, std::chrono::microseconds gap)
    : db_(db),
      gap_(gap),
      insert_(db.handle(),
              "INSERT INTO events(user, start_time, end_time, count, bytes, open)"
              " VALUES(?, ?, ?, 0, 0, 1)"),
      update_(db.handle(),
              "UPDATE events SET end_time=?, count=?, bytes=?, first_upload=?, open=?"
              " WHERE id=?") {}

void EventBook::Load() {
  Statement query(db_.handle(), std::string(kSummaryColumns) + "WHERE e.open=1");
  while (query.Step()) {
    EventSummary event = ReadSummary(query);
    const std::string user = event.user;
    open_[user] = {std::move(event), query.ColumnInt(8)};
  }
}

int64_t EventBook::EventFor(const std::string& user, TimePoint time, std::vector<Notice>& notices) {
  auto it = open_.find(user);
  if (it != open_.end() && time - it->second.event.end > gap_) {
    Close(user, notices);
    it = open_.end();
  }
  if (it != open_.end()) return it->second.event.id;
  const std::string stamp = FormatTime(time);
  insert_.Reset();
  insert_.Bind(1, user);
  insert_.Bind(2, stamp);
  insert_.Bind(3, stamp);
  insert_.Step();
  insert_.Reset();
  Open open;
  open.event.id = sqlite3_last_insert_rowid(db_.handle());
  open.event.user = user;
  open.event.start = open.event.end = time;
  open.event.open = true;
  open_[user] = open;
  return open.event.id;
}

void EventBook::Count(const std::string& user, int64_t uploadId, const std::string& file,
                      int64_t size, TimePoint time, std::vector<Notice>& notices) {
  Open& open = open_.at(user);
  EventSummary& event = open.event;
  ++event.count;
  event.bytes += size;
  event.end = std::max(event.end, time);
  if (event.count == 1) {
    event.firstFile = file;
    open.firstUpload = uploadId;
    notices.push_back({Notice::Kind::kEventOpened, event, {}, 0, {}, 0});
  }
  notices.push_back({Notice::Kind::kSnapshotStored, event, file, size, time, uploadId});
  changed_.insert(user);
}

void EventBook::CloseDue(TimePoint now, std::vector<Notice>& notices) {
  std::vector<std::string> due;
  for (const auto& [user, open] : open_) {
    if (now - open.event.end > gap_) due.push_back(user);
  }
  for (const auto& user : due) Close(user, notices);
}

void EventBook::Close(const std::string& user, std::vector<Notice>& notices) {
  auto it = open_.find(user);
  it->second.event.open = false;
  Write(it->second);
  notices.push_back({Notice::Kind::kEventClosed, it->second.event, {}, 0, {}, 0});
  changed_.erase(user);
  open_.erase(it);
}

void EventBook::Write(const Open& open) {
  update_.Reset();
  update_.Bind(1, FormatTime(open.event.end));
  update_.Bind(2, open.event.count);
  update_.Bind(3, open.event.bytes);
  update_.Bind(4, open.firstUpload);
  update_.Bind(5, int64_t{open.event.open});
  update_.Bind(6, open.event.id);
  update_.Step();
  update_.Reset();
}

void EventBook::Flush() {
  for (const auto& user : changed_) Write(open_.at(user));
  changed_.clear();
}

TimePoint EventBook::NextClose() const {
  TimePoint next = kNever;
  for (const auto& [user, open] : open_) {
    next = std::min(next, open.event.end + gap_ + std::chrono::microseconds(1));
  }
  return next;
}

void EventBook::Restore(State state) {
  open_ = std::move(state);
  changed_.clear();
}

std::vector<EventSummary> ListEvents(Database& db, const std::optional<std::string>& user,
                                     int64_t limit) {
  Statement query(db.handle(), std::string(kSummaryColumns) + (user ? "WHERE e.user=? " : "") +
                                   "ORDER BY e.start_time DESC, e.id DESC LIMIT ?");
  int index = 1;
  if (user) query.Bind(index++, *user);
  query.Bind(index, limit);
  return ReadSummaries(query);
}

std::optional<EventSummary> FindEvent(Database& db, int64_t id) {
  Statement query(db.handle(), std::string(kSummaryColumns) + "WHERE e.id=?");
  query.Bind(1, id);
  if (!query.Step()) return std::nullopt;
  return ReadSummary(query);
}

std::vector<StoredSnapshot> EventSnapshots(Database& db, int64_t event) {
  Statement query(db.handle(),
                  "SELECT id, file, time, size, sha256, acknowledged FROM uploads"
                  " WHERE event=? ORDER BY time, id");
  query.Bind(1, event);
  std::vector<StoredSnapshot> snapshots;
  while (query.Step()) {
    snapshots.push_back({query.ColumnInt(0), query.ColumnText(1), query.ColumnText(2),
                         query.ColumnInt(3), query.ColumnText(4), query.ColumnInt(5) != 0});
  }
  return snapshots;
}

namespace {

// An event being filled by GroupLooseUploads.
struct Group {
  int64_t id = 0;
  TimePoint start{}, end{};
  int64_t count = 0, bytes = 0, firstUpload = 0;
};

// The account's event that starts latest at or before `time` (`after` false), or earliest
// after it (`after` true).
std::optional<Group> Neighbour(Database& db, const std::string& user, TimePoint time, bool after) {
  Statement query(db.handle(),
                  after ? "SELECT id, start_time, end_time, count, bytes, first_upload FROM events"
                          " WHERE user=? AND start_time>? ORDER BY start_time LIMIT 1"
                        : "SELECT id, start_time, end_time, count, bytes, first_upload FROM events"
                          " WHERE user=? AND start_time<=? ORDER BY start_time DESC LIMIT 1");
  query.Bind(1, user);
  query.Bind(2, FormatTime(time));
  if (!query.Step()) return std::nullopt;
  return Group{query.ColumnInt(0),
               TimeOrEpoch(query.ColumnText(1)),
               TimeOrEpoch(query.ColumnText(2)),
               query.ColumnInt(3),
               query.ColumnInt(4),
               query.ColumnInt(5)};
}

}  // namespace

int64_t GroupLooseUploads(Database& db, std::chrono::microseconds gap) {
  std::vector<std::string> users;
  {
    Statement query(db.handle(), "SELECT DISTINCT user FROM uploads WHERE event IS NULL");
    while (query.Step()) users.push_back(query.ColumnText(0));
  }
  Statement insert(db.handle(),
                   "INSERT INTO events(user, start_time, end_time, count, bytes, open)"
                   " VALUES(?, ?, ?, 0, 0, 0)");
  Statement update(db.handle(),
                   "UPDATE events SET start_time=?, end_time=?, count=?, bytes=?, first_upload=?"
                   " WHERE id=?");
  Statement place(db.handle(), "UPDATE uploads SET event=? WHERE id=?");
  auto write = [&](const Group& group) {
    update.Reset();
    update.Bind(1, FormatTime(group.start));
    update.Bind(2, FormatTime(group.end));
    update.Bind(3, group.count);
    update.Bind(4, group.bytes);
    update.Bind(5, group.firstUpload);
    update.Bind(6, group.id);
    update.Step();
  };
  int64_t placed = 0;
  for (const auto& user : users) {
    struct Loose {
      int64_t id;
      TimePoint time;
      int64_t size;
    };
    std::vector<Loose> loose;
    {
      Statement query(db.handle(),
                      "SELECT id, time, size FROM uploads WHERE event IS NULL AND user=?"
                      " ORDER BY time, id");
      query.Bind(1, user);
      while (query.Step()) {
        loose.push_back({query.ColumnInt(0), TimeOrEpoch(query.ColumnText(1)), query.ColumnInt(2)});
      }
    }
    std::optional<Group> group;
    for (const Loose& upload : loose) {
      const auto fits = [&](const Group& g) {
        return upload.time >= g.start - gap && upload.time <= g.end + gap;
      };
      if (!group || !fits(*group)) {
        if (group) write(*group);
        group = Neighbour(db, user, upload.time, false);
        if (!group || !fits(*group)) group = Neighbour(db, user, upload.time, true);
        if (!group || !fits(*group)) {
          const std::string stamp = FormatTime(upload.time);
          insert.Reset();
          insert.Bind(1, user);
          insert.Bind(2, stamp);
          insert.Bind(3, stamp);
          insert.Step();
          group = Group{sqlite3_last_insert_rowid(db.handle()), upload.time, upload.time, 0, 0, 0};
        }
      }
      if (group->count == 0 || upload.time < group->start) {
        group->start = upload.time;
        group->firstUpload = upload.id;
      }
      group->end = std::max(group->end, upload.time);
      ++group->count;
      group->bytes += upload.size;
      place.Reset();
      place.Bind(1, group->id);
      place.Bind(2, upload.id);
      place.Step();
      ++placed;
    }
    if (group) write(*group);
  }
  return placed;
}

}  // namespace corvantis::server
