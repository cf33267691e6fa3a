// The command line of corvantis-server:
//
//   corvantis-server [--data DIR] serve [--listen ADDR:PORT] [--max-size BYTES]
//                    [--idle-timeout SECONDS] [--login-timeout SECONDS]
//                    [--write-timeout SECONDS] [--min-body-rate BYTES] [--threads N]
//                    [--max-connections N] [--max-per-address N] [--login-cache SECONDS]
//   corvantis-server [--data DIR] user add NAME [--hash-cost min|interactive|moderate]
//   corvantis-server [--data DIR] user remove NAME
//   corvantis-server [--data DIR] user list
//   corvantis-server --help
//
// `serve` prints "listening on ADDR:PORT" on standard output once it accepts connections
// (the real port when PORT is 0), logs one line per connection on standard error and stops
// on SIGINT or SIGTERM. `user add` reads the password from standard input: typed at a
// terminal without echo (twice), or the first line of a pipe (without its CR LF). --help
// anywhere prints the usage and runs nothing; with `user add` or `user remove` it exits 2.
#pragma once

#include <cstdio>

namespace corvantis::server {

// Runs the command; returns the exit status (0 success, 1 failure, 2 bad usage).
int RunCommandLine(int argc, char** argv);

}  // namespace corvantis::server
