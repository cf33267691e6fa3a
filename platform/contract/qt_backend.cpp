#include "platform/qt/qt_backend.h"
#include "platform/contract/backend.h"

namespace contract {

void PumpUntil(const std::function<bool()>& done) {
  qtbackend::PumpUntil(done);
}

void LetTimePass(unsigned) {}

}  // namespace contract
