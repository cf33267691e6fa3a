// The options of `serve` (and `prune`) about events: the gap, retention and notifications.
#pragma once

#include <string>

#include "server/options.h"

namespace corvantis::server {

// Takes `option` with its `value` into `options` when it is one of:
//   --event-gap S, --keep-days N, --min-free SIZE, --mqtt HOST[:PORT], --mqtt-user NAME,
//   --mqtt-password-file FILE, --mqtt-prefix P, --webhook URL, --on-event COMMAND,
//   --on-event-timeout S
// Returns false for any other option. Throws UsageError for a bad value, std::runtime_error
// for a password file that cannot be read.
bool TakeEventOption(const std::string& option, const std::string& value, ServerOptions& options);

}  // namespace corvantis::server
