// What the window contract suite needs of the backend it runs against, beyond the platform
// headers: a way to handle the calling thread's messages until a condition holds.
#pragma once

#include <functional>

namespace contract {

// Handles the calling thread's messages (sent, posted, painting) until `done` gives true.
void PumpUntil(const std::function<bool()>& done);

}  // namespace contract
