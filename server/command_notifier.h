// Runs the owner's command for each event that opens or closes:
//   /bin/sh -c COMMAND
// with the event's facts in CORVANTIS_* environment variables only (notice_format.h): no
// user name or path is ever pasted into the command line, so no name can inject shell
// syntax. Standard input is /dev/null; standard output and error go to the log, line by
// line. One command runs at a time, in its own process group, with no descriptor of the
// server's; one that outlives its time-out is killed with its whole group. The events wait
// in a bounded queue (a full queue drops and counts them). Each run is one log line.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <thread>

#include "server/event_hub.h"
#include "server/notify_queue.h"
#include "server/options.h"

namespace corvantis::server {

class CommandNotifier {
 public:
  CommandNotifier(CommandSettings settings, std::filesystem::path dataDir, std::size_t queueLimit,
                  EventHub& hub, LogSink log);
  // Stops: a command still running is killed, events still waiting are not announced.
  ~CommandNotifier();
  CommandNotifier(const CommandNotifier&) = delete;
  CommandNotifier& operator=(const CommandNotifier&) = delete;

 private:
  void Run();
  void Announce(const EventSummary& event);
  // Reads the command's output until it ends and the process has exited, or until the
  // deadline or a stop; returns how it ended, for the log.
  std::string Supervise(pid_t pid, int output, const std::string& words);

  const CommandSettings settings_;
  const std::filesystem::path dataDir_;
  const LogSink log_;
  EventHub& hub_;
  NotifyQueue<EventSummary> queue_;
  int stopFd_ = -1;  // an eventfd, signalled by the destructor to end a running command
  uint64_t subscription_ = 0;
  std::thread thread_;
};

}  // namespace corvantis::server
