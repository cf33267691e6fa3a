#include "platform/contract/backend.h"
#include "platform/headless/headless.h"

namespace contract {

void PumpUntil(const std::function<bool()>& done) {
  headless::PumpUntil(done);
}

}  // namespace contract
