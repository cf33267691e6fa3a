// What the window contract suite needs of the backend it runs against, beyond the platform
// headers: a way to handle the calling thread's messages until a condition holds, and time.
#pragma once

#include <functional>

namespace contract {

// Handles the calling thread's messages (sent, posted, painting) until `done` gives true.
void PumpUntil(const std::function<bool()>& done);
// Lets `milliseconds` pass on the backend's clock: a virtual clock moves on at once, a real
// one while the loops wait.
void LetTimePass(unsigned milliseconds);

}  // namespace contract
