// Swaps entries of the platform table for the length of a test and puts the
// real ones back afterwards: the seam for a pinned clock and injected faults.
#ifndef QUORVEL_TESTS_SUPPORT_PLATFORM_OVERRIDE_H
#define QUORVEL_TESTS_SUPPORT_PLATFORM_OVERRIDE_H

#include "platform/platform.h"

namespace qtest {

class PlatformOverride {
 public:
  PlatformOverride() : saved_(quorvel::platform::Current()) {}
  ~PlatformOverride() { quorvel::platform::Current() = saved_; }
  PlatformOverride(const PlatformOverride&) = delete;
  PlatformOverride& operator=(const PlatformOverride&) = delete;
  quorvel::platform::Api& api() { return quorvel::platform::Current(); }

 private:
  quorvel::platform::Api saved_;
};

// 6 December 2026, the date of the worked examples.
inline quorvel::platform::LocalDate PinnedDate() { return {2026, 12, 6}; }

}  // namespace qtest

#endif
