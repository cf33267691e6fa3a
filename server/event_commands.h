// The commands that read and tidy the stored events:
//   events [--user NAME] [--limit N]   one line per event, newest first, tab-separated:
//        id, user, start, end, "N snapshots", "N bytes", open|closed, first snapshot
//   export EVENT DIR                   copies the event's snapshots into DIR (created when
//        missing) in the order they were stored, as 0001-<name>.jpeg, 0002-..., checking
//        each against its SHA-256; never overwrites a file
//   prune [--keep-days N] [--min-free SIZE]   one retention pass (retention.h); takes the
//        data directory's lock, so it never runs beside a server, which prunes by itself
// Each returns the exit status (0 success, 1 failure) and throws UsageError for bad usage.
#pragma once

#include <string>
#include <vector>

#include "server/options.h"

namespace corvantis::server {

int EventsCommand(const ServerOptions& options, const std::vector<std::string>& args);
int ExportCommand(const ServerOptions& options, const std::vector<std::string>& args);
int PruneCommand(ServerOptions options, const std::vector<std::string>& args);

}  // namespace corvantis::server
