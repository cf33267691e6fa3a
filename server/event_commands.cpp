#include "server/event_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "server/cli_values.h"
#include "server/data_dir.h"
#include "server/disk.h"
#include "server/event_options.h"
#include "server/events.h"
#include "server/log.h"
#include "server/retention.h"
#include "server/snapshot_store.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kDefaultListLimit = 50;

// The database of a data directory that must exist already.
Database OpenExisting(const ServerOptions& options) {
  const fs::path file = options.dataDir / Database::kFileName;
  if (!fs::exists(file))
    throw std::runtime_error("no data directory at " + options.dataDir.string());
  return Database(file, options.eventGap);
}

std::string Describe(const EventSummary& event) {
  return std::to_string(event.id) + "\t" + EscapeForLog(event.user) + "\t" +
         FormatTime(event.start) + "\t" + FormatTime(event.end) + "\t" +
         std::to_string(event.count) + " snapshots\t" + std::to_string(event.bytes) + " bytes\t" +
         (event.open ? "open" : "closed") + "\t" + event.firstFile;
}

}  // namespace

int EventsCommand(const ServerOptions& options, const std::vector<std::string>& args) {
  std::optional<std::string> user;
  int64_t limit = kDefaultListLimit;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    if (args[i] == "--user") {
      user = args[i + 1];
    } else if (args[i] == "--limit") {
      const auto n = ParseNumber<int64_t>(args[i + 1]);
      if (!n || *n < 1) throw UsageError("bad --limit: " + args[i + 1]);
      limit = *n;
    } else {
      throw UsageError("unknown option for events: " + args[i]);
    }
  }
  Database db = OpenExisting(options);
  for (const auto& event : ListEvents(db, user, limit)) std::cout << Describe(event) << "\n";
  return 0;
}

int ExportCommand(const ServerOptions& options, const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError("export needs EVENT and DIR");
  const auto id = ParseNumber<int64_t>(args[0]);
  if (!id) throw UsageError("bad event id: " + args[0]);
  Database db = OpenExisting(options);
  const auto event = FindEvent(db, *id);
  if (!event) {
    std::cerr << "corvantis-server: no event " << *id << "\n";
    return 1;
  }
  const fs::path target = args[1];
  fs::create_directories(target);
  const auto snapshots = EventSnapshots(db, *id);
  const int width = std::max<int>(4, static_cast<int>(std::to_string(snapshots.size()).size()));
  int copied = 0, failed = 0;
  for (const auto& snapshot : snapshots) {
    const auto data = ReadWholeFile(options.dataDir / snapshot.file);
    std::string number = std::to_string(copied + failed + 1);
    number.insert(
        0, static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(number.size()))),
        '0');
    const fs::path out = target / (number + "-" + fs::path(snapshot.file).filename().string());
    if (!data) {
      std::cerr << "corvantis-server: cannot read " << snapshot.file << "\n";
      ++failed;
    } else if (Sha256Hex(*data) != snapshot.sha256) {
      std::cerr << "corvantis-server: " << snapshot.file << " does not match its SHA-256\n";
      ++failed;
    } else if (!WriteNewFile(out, *data, true)) {
      std::cerr << "corvantis-server: cannot write " << out.string() << " (it may exist)\n";
      ++failed;
    } else {
      ++copied;
    }
  }
  SyncDirectory(target);
  std::cout << "exported " << copied << " of " << snapshots.size() << " snapshots of event " << *id
            << " to " << target.string() << "\n";
  return failed ? 1 : 0;
}

int PruneCommand(ServerOptions options, const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    if ((args[i] != "--keep-days" && args[i] != "--min-free") ||
        !TakeEventOption(args[i], args[i + 1], options)) {
      throw UsageError("unknown option for prune: " + args[i]);
    }
  }
  PrepareDataDir(options.dataDir);
  DataDirLock lock(options.dataDir);
  Database db(options.dataDir / Database::kFileName, options.eventGap);
  const PruneResult result = Prune(db, options.dataDir, options.retention, SystemClock().Now(),
                                   [](const EventSummary& event, const std::string& why) {
                                     std::cout << "removed " << Describe(event) << "\t" << why
                                               << std::endl;
                                   });
  std::cout << "removed " << result.events << " events" << std::endl;
  if (result.diskFull) {
    std::cerr << "corvantis-server: the disk is still below --min-free (" << result.freeBytes
              << " bytes free) and no closed event is left to remove\n";
    return 1;
  }
  return 0;
}

}  // namespace corvantis::server
