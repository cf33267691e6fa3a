#include "server/cli.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/cli_values.h"
#include "server/credentials.h"
#include "server/data_dir.h"
#include "server/event_commands.h"
#include "server/event_options.h"
#include "server/log.h"
#include "server/server.h"

namespace corvantis::server {

namespace {

constexpr const char* kUsage =
    "usage: corvantis-server [--data DIR] serve [--listen ADDR:PORT] [OPTION...]\n"
    "       corvantis-server [--data DIR] user add NAME [--hash-cost min|interactive|moderate]\n"
    "       corvantis-server [--data DIR] user remove NAME\n"
    "       corvantis-server [--data DIR] user list\n"
    "       corvantis-server [--data DIR] events [--user NAME] [--limit N]\n"
    "       corvantis-server [--data DIR] export EVENT DIR\n"
    "       corvantis-server [--data DIR] prune [--keep-days N] [--min-free SIZE]\n"
    "\n"
    "The alarm server. It keeps its accounts, uploaded snapshots and database in DIR\n"
    "(default $XDG_DATA_HOME/corvantis-server or ~/.local/share/corvantis-server).\n"
    "\n"
    "serve                 accept cameras' logins and uploads (default 127.0.0.1:1100);\n"
    "                      prints \"listening on ADDR:PORT\" when ready, stops on SIGINT/SIGTERM\n"
    "  --listen ADDR:PORT  address to listen on; port 0 picks a free port\n"
    "  --max-size BYTES    largest snapshot accepted (default 16777216)\n"
    "  --idle-timeout S    seconds for each line to arrive whole (default 60)\n"
    "  --login-timeout S   seconds from connecting to logging in (default 10)\n"
    "  --write-timeout S   seconds for each reply to be taken (default 10)\n"
    "  --min-body-rate B   bytes a second a snapshot must average after 10 s (default 8192)\n"
    "  --threads N         connection threads (default 1)\n"
    "  --max-connections N connections at once (default 1024, less if descriptors are few)\n"
    "  --max-per-address N connections at once from one address (default 32)\n"
    "  --login-cache S     seconds a verified password is remembered (default 300; 0: off)\n"
    "  --event-gap S       longest gap in seconds between two uploads of one event (default 30)\n"
    "  --keep-days N       remove events older than N days (default 30; 0: keep them)\n"
    "  --min-free SIZE     keep SIZE free on the disk, removing the oldest events, and refuse\n"
    "                      uploads when nothing is left to remove (default 1G; 0: off)\n"
    "  --mqtt HOST[:PORT]  announce events and snapshots to this MQTT broker (port 1883)\n"
    "  --mqtt-user NAME    log in to the broker as NAME\n"
    "  --mqtt-password-file FILE  the broker password: the first line of FILE\n"
    "  --mqtt-prefix P     topic prefix (default corvantis): P/<user>/event, motion, snapshot\n"
    "  --webhook URL       POST each event's opening and closing as JSON to URL (http, https)\n"
    "  --on-event COMMAND  run COMMAND with /bin/sh when an event opens or closes; its facts\n"
    "                      are in CORVANTIS_* environment variables\n"
    "  --on-event-timeout S  seconds before the command is killed (default 30)\n"
    "  --web ADDR:PORT     the web gallery's address (default 127.0.0.1:8080); off: none\n"
    "  --tls-cert FILE     serve the gallery over HTTPS with this PEM certificate chain\n"
    "  --tls-key FILE      and this PEM private key\n"
    "  --web-insecure      allow plain HTTP for the gallery on an address other than loopback\n"
    "user add NAME         add an account; the password (4 to 13 characters) is read from\n"
    "                      standard input (a line feed or CR LF ends it), never from the\n"
    "                      command line\n"
    "  --hash-cost C       argon2id cost: interactive (default), moderate, or min (tests only)\n"
    "user remove NAME      remove an account (its snapshots stay)\n"
    "user list             list the accounts with their number of uploads\n"
    "events                list events, newest first: id, user, start, end, snapshots, bytes,\n"
    "                      open or closed, first snapshot (default limit 50)\n"
    "export EVENT DIR      copy an event's snapshots into DIR, in order (0001-<name>.jpeg ...)\n"
    "prune                 apply --keep-days and --min-free once (not beside a running serve)\n"
    "\n"
    "SIZE is bytes, or a number with K, M, G or T (powers of 1024).\n";

int Usage(const std::string& problem) {
  std::cerr << "corvantis-server: " << problem << "\n" << kUsage;
  return 2;
}

// Splits "ADDR:PORT" (or "[V6ADDR]:PORT") into `address` and `port`.
bool ParseEndpoint(const std::string& text, std::string& address, uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const auto number = ParseNumber<uint16_t>(text.substr(colon + 1));
  error_code ec;
  asio::ip::make_address(host, ec);
  if (!number || ec) return false;
  address = host;
  port = *number;
  return true;
}

std::string FormatEndpoint(const asio::ip::tcp::endpoint& endpoint) {
  const std::string address = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
         std::to_string(endpoint.port());
}

int Serve(ServerOptions options, const std::vector<std::string>& args) {
  options.web.enabled = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--web-insecure") {
      options.web.insecure = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage(option + " needs a value");
    const std::string& value = args[++i];
    if (option == "--listen") {
      if (!ParseEndpoint(value, options.listenAddress, options.port)) {
        return Usage("bad --listen address: " + value);
      }
    } else if (option == "--web") {
      options.web.enabled = value != "off";
      if (options.web.enabled && !ParseEndpoint(value, options.web.address, options.web.port)) {
        return Usage("bad --web address: " + value);
      }
    } else if (option == "--tls-cert") {
      options.web.tlsCert = value;
    } else if (option == "--tls-key") {
      options.web.tlsKey = value;
    } else if (option == "--max-size") {
      const auto size = ParseNumber<std::size_t>(value);
      if (!size || *size == 0) return Usage("bad --max-size: " + value);
      options.maxSize = *size;
    } else if (option == "--idle-timeout" || option == "--login-timeout" ||
               option == "--write-timeout" || option == "--login-cache") {
      double seconds = -1;
      try {
        seconds = std::stod(value);
      } catch (const std::exception&) {
      }
      if (!(seconds >= 0 && seconds < 1e7)) return Usage("bad " + option + ": " + value);
      const std::chrono::milliseconds millis(static_cast<int64_t>(seconds * 1000));
      if (option == "--idle-timeout") {
        options.idleTimeout = millis;
      } else if (option == "--login-timeout") {
        options.loginTimeout = millis;
      } else if (option == "--write-timeout") {
        options.writeTimeout = millis;
      } else {
        options.loginCacheTime = std::chrono::seconds(static_cast<int64_t>(seconds));
      }
    } else if (option == "--min-body-rate") {
      const auto rate = ParseNumber<std::size_t>(value);
      if (!rate) return Usage("bad --min-body-rate: " + value);
      options.minBodyRate = *rate;
    } else if (option == "--threads" || option == "--max-connections" ||
               option == "--max-per-address") {
      const auto count = ParseNumber<int>(value);
      if (!count || *count < 1) return Usage("bad " + option + ": " + value);
      if (option == "--threads") {
        options.ioThreads = *count;
      } else if (option == "--max-connections") {
        options.maxConnections = static_cast<std::size_t>(*count);
      } else {
        options.maxPerClient = static_cast<std::size_t>(*count);
      }
    } else if (!TakeEventOption(option, value, options)) {
      return Usage("unknown option for serve: " + option);
    }
  }
  options.log = StderrLogSink();
  // Without a terminal the log goes to a pipe or socket whose reader may go away (a log
  // collector restarting), and a receiver (a broker, a command's pipe) may go away too:
  // writing there must fail, not end the server with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);

  // The signals are taken by sigwait below; every thread the server starts inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Server server(options);
  const auto endpoint = server.Start();
  std::cout << "listening on " << FormatEndpoint(endpoint) << std::endl;
  WriteLog(options.log, "serving " + options.dataDir.string() + " on " + FormatEndpoint(endpoint));
  if (const auto web = server.webEndpoint()) {
    const std::string address =
        (options.web.tlsCert.empty() ? "http://" : "https://") + FormatEndpoint(*web) + "/";
    std::cout << "web gallery on " << address << std::endl;
    WriteLog(options.log, "web gallery on " + address);
  }
  int signal = 0;
  sigwait(&signals, &signal);
  WriteLog(options.log, std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
  server.Stop();
  server.Wait();
  return 0;
}

// Reads the new password: at a terminal twice without echo, otherwise one line. Nothing,
// with `problem` saying why, when there is none.
std::optional<std::string> ReadPassword(std::string& problem) {
  auto readLine = [](std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    // A line from a file or a program written elsewhere may end in CR LF; the CR is no
    // part of the password (and no password typed at the camera can hold one).
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  };
  problem = "no password on standard input";
  if (!isatty(STDIN_FILENO)) {
    std::string line;
    if (!readLine(line)) return std::nullopt;
    return line;
  }
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::string first, second;
  std::cerr << "Password: " << std::flush;
  bool ok = readLine(first);
  std::cerr << "\nPassword again: " << std::flush;
  ok = ok && readLine(second);
  std::cerr << "\n";
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!ok) return std::nullopt;
  if (first != second) {
    problem = "the passwords differ; no user added";
    return std::nullopt;
  }
  return first;
}

int UserCommand(const ServerOptions& options, const std::vector<std::string>& args) {
  if (args.empty()) return Usage("user needs add, remove or list");
  const std::string& verb = args[0];
  PrepareDataDir(options.dataDir);
  Database db(options.dataDir / Database::kFileName);
  Accounts accounts(db);
  if (verb == "list" && args.size() == 1) {
    for (const auto& account : accounts.List()) {
      std::cout << EscapeForLog(account.name) << "\t" << account.created << "\t" << account.uploads
                << " uploads\n";
    }
    return 0;
  }
  if (verb == "remove" && args.size() == 2) {
    if (!accounts.Remove(args[1])) {
      std::cerr << "corvantis-server: no user " << EscapeForLog(args[1]) << "\n";
      return 1;
    }
    std::cout << "removed " << EscapeForLog(args[1]) << "\n";
    return 0;
  }
  if (verb == "add" && (args.size() == 2 || (args.size() == 4 && args[2] == "--hash-cost"))) {
    const std::string& name = args[1];
    const auto cost = args.size() == 4 ? ParseHashCost(args[3]) : HashCost::kInteractive;
    if (!cost) return Usage("bad --hash-cost: " + args[3]);
    if (auto problem = UserNameProblem(name)) {
      std::cerr << "corvantis-server: " << *problem << "\n";
      return 1;
    }
    if (accounts.FindHash(name)) {
      std::cerr << "corvantis-server: user " << EscapeForLog(name) << " exists\n";
      return 1;
    }
    std::string problem;
    const auto password = ReadPassword(problem);
    if (!password) {
      std::cerr << "corvantis-server: " << problem << "\n";
      return 1;
    }
    if (auto problem = PasswordProblem(*password)) {
      std::cerr << "corvantis-server: " << *problem << "\n";
      return 1;
    }
    if (!accounts.Add(name, HashPassword(*password, *cost))) {
      std::cerr << "corvantis-server: user " << EscapeForLog(name) << " exists\n";
      return 1;
    }
    std::cout << "added " << EscapeForLog(name) << "\n";
    return 0;
  }
  return Usage("bad user command");
}

// Prints the usage for --help or -h anywhere. A command that would change the accounts
// changes nothing then, and says so, and its status is not a success.
std::optional<int> Help(const std::vector<std::string>& args) {
  if (std::none_of(args.begin(), args.end(),
                   [](const std::string& arg) { return arg == "--help" || arg == "-h"; })) {
    return std::nullopt;
  }
  std::cout << kUsage;
  const std::size_t at = !args.empty() && args[0] == "--data" ? 2 : 0;
  if (args.size() > at + 1 && args[at] == "user") {
    const std::string& verb = args[at + 1];
    if (verb == "add" || verb == "remove") {
      std::cerr << "corvantis-server: help asked for; no user "
                << (verb == "add" ? "added" : "removed") << "\n";
      return 2;
    }
  }
  return 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ServerOptions options;
  std::size_t i = 0;
  if (const auto status = Help(args)) return *status;
  if (i < args.size() && args[i] == "--data") {
    if (i + 1 >= args.size()) return Usage("--data needs a directory");
    options.dataDir = args[i + 1];
    i += 2;
  }
  if (i >= args.size()) return Usage("no command");
  const std::string command = args[i++];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  try {
    if (options.dataDir.empty()) options.dataDir = DefaultDataDir();
    if (command == "serve") return Serve(std::move(options), rest);
    if (command == "user") return UserCommand(options, rest);
    if (command == "events") return EventsCommand(options, rest);
    if (command == "export") return ExportCommand(options, rest);
    if (command == "prune") return PruneCommand(options, rest);
  } catch (const UsageError& e) {
    return Usage(e.what());
  } catch (const std::exception& e) {
    std::cerr << "corvantis-server: " << e.what() << "\n";
    return 1;
  }
  return Usage("unknown command: " + command);
}

}  // namespace corvantis::server
