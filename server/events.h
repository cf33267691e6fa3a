// Events: runs of one account's uploads with no gap longer than the event gap (tables in
// database.h). The commit thread keeps the open ones in an EventBook; everything else reads
// them with the queries below, which use the indexes and never scan a whole table.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "server/clock.h"
#include "server/database.h"
#include "server/event_hub.h"

namespace corvantis::server {

// The open events of every account, as the one thread that writes uploads keeps them. Every
// call runs inside that thread's transaction; Save and Restore undo the calls of a
// transaction that was rolled back.
class EventBook {
 public:
  EventBook(Database& db, std::chrono::microseconds gap);

  // Reads the events a previous run left open.
  void Load();
  // The event an upload of `user` stored at `time` belongs to: the account's open event, or
  // a new one (closing the open one first when the gap has passed). Call before writing the
  // upload's row, then Count once the row has its id.
  int64_t EventFor(const std::string& user, TimePoint time, std::vector<Notice>& notices);
  void Count(const std::string& user, int64_t uploadId, const std::string& file, int64_t size,
             TimePoint time, std::vector<Notice>& notices);
  // Closes every open event whose gap has passed at `now`.
  void CloseDue(TimePoint now, std::vector<Notice>& notices);
  // Writes what changed in the open events; call before committing.
  void Flush();
  // When the next open event closes, or kNever.
  TimePoint NextClose() const;

  struct Open {
    EventSummary event;
    int64_t firstUpload = 0;
  };
  using State = std::map<std::string, Open>;  // user -> the account's open event
  State Save() const { return open_; }
  void Restore(State state);

 private:
  void Write(const Open& open);
  void Close(const std::string& user, std::vector<Notice>& notices);

  Database& db_;
  const std::chrono::microseconds gap_;
  Statement insert_;
  Statement update_;
  State open_;
  std::set<std::string> changed_;  // users whose open event is not yet written
};

// The newest events first, of one account or of all; at most `limit`.
std::vector<EventSummary> ListEvents(Database& db, const std::optional<std::string>& user,
                                     int64_t limit);
std::optional<EventSummary> FindEvent(Database& db, int64_t id);

struct StoredSnapshot {
  int64_t id = 0;
  std::string file;  // relative to the data directory
  std::string time;
  int64_t size = 0;
  std::string sha256;
  bool acknowledged = true;  // false: found after a crash, never acknowledged to its camera
};
// An event's snapshots in the order they were stored.
std::vector<StoredSnapshot> EventSnapshots(Database& db, int64_t event);

// Gives every upload without an event its event by the same gap rule: it joins the
// account's event it falls in or beside (within `gap`), or starts a closed event of its own.
// Runs inside the caller's transaction. Returns how many uploads it placed.
int64_t GroupLooseUploads(Database& db, std::chrono::microseconds gap);

}  // namespace corvantis::server
