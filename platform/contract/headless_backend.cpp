#include "platform/contract/backend.h"
#include "platform/headless/headless.h"

namespace contract {

void PumpUntil(const std::function<bool()>& done) {
  headless::PumpUntil(done);
}

void LetTimePass(unsigned milliseconds) {
  headless::Advance(milliseconds);
}

}  // namespace contract
