// Removing a whole event, its snapshot files and rows together, so that a crash at any
// moment leaves either the whole event or nothing of it:
//   1. one transaction deletes the event's rows and lists its files in removed_files; once it
//      commits the event is gone for every reader;
//   2. the files are deleted and their folders synced;
//   3. the list is emptied.
// A crash between 1 and 3 leaves files in the list; FinishRemovals deletes them at the next
// start, before anything looks for snapshot files without a row. Retention and any other
// deletion of events go through RemoveEvent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "server/database.h"
#include "server/event_hub.h"

namespace corvantis::server {

// Removes the closed event `id`; returns what it removed, or nothing when there is no such
// closed event (an open event is still being written and is never removed). With an `owner`,
// only an event of that account is removed; the check is inside the removal's transaction.
std::optional<EventSummary> RemoveEvent(Database& db, const std::filesystem::path& dataDir,
                                        int64_t id,
                                        const std::optional<std::string>& owner = std::nullopt);

// Deletes the files still listed in removed_files, with their thumbnails, and empties the
// list; returns how many entries it cleared.
int64_t FinishRemovals(Database& db, const std::filesystem::path& dataDir);

}  // namespace corvantis::server
