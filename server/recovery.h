// What a crash can leave in the data directory, put right when the server starts: a snapshot
// file that was renamed to its final name, but whose row was never committed (and whose
// upload was therefore never acknowledged). Nothing stored stays invisible: each such file
// gets a row, marked unacknowledged, and an event.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "server/database.h"
#include "server/options.h"

namespace corvantis::server {

// Records every finished snapshot under snapshots/ that has no row: its size and SHA-256
// from the file, its time from its name, acknowledged 0, client "", and its event by the
// gap rule. Returns how many it recorded. Run it after FinishRemovals (whose files have no
// rows either, on purpose) and while no upload is being written.
int64_t RecordUnlistedSnapshots(Database& db, const std::filesystem::path& dataDir,
                                std::chrono::microseconds eventGap);

// Puts the data directory right before a server uses it: upgrades the database, finishes
// removals a crash interrupted, records snapshots without a row. Logs what it did. Throws
// std::runtime_error when the database cannot be opened or is from a newer server.
void RecoverAtStart(const std::filesystem::path& dataDir, std::chrono::microseconds eventGap,
                    const LogSink& log);

// The account whose folder is `folder` (the inverse of UserFolderName), or nothing when
// no account name gives that folder.
std::optional<std::string> UserOfFolder(std::string_view folder);

// The stored time that a snapshot file's name carries ("20240501T120304.123456Z-7.jpeg" ->
// "2024-05-01T12:03:04.123456Z"), or nothing for a name the server does not give.
std::optional<std::string> TimeOfSnapshotName(std::string_view name);

}  // namespace corvantis::server
