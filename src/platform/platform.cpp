#include "platform/platform.h"

namespace quorvel::platform {

Api& Current() {
  // Starts as the real system; tests replace entries to inject faults.
  static Api current = Native();
  return current;
}

}  // namespace quorvel::platform
