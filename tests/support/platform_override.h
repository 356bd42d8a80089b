// Swaps entries of the platform table, and system calls behind it, for the
// length of a test and puts the real ones back afterwards: the seam for a
// pinned clock and injected faults.
#ifndef QUORVEL_TESTS_SUPPORT_PLATFORM_OVERRIDE_H
#define QUORVEL_TESTS_SUPPORT_PLATFORM_OVERRIDE_H

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qtest {

class PlatformOverride {
 public:
  PlatformOverride() : saved_(quorvel::platform::Current()) {}
  ~PlatformOverride() {
    quorvel::platform::Current() = saved_;
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
      quorvel::platform::Native().system_call(it->first.c_str(), it->second);
    }
  }
  PlatformOverride(const PlatformOverride&) = delete;
  PlatformOverride& operator=(const PlatformOverride&) = delete;
  quorvel::platform::Api& api() { return quorvel::platform::Current(); }
  // Swaps the system call `name` for `call`; false for a name the
  // implementation does not route through its table.
  template <typename Call>
  bool SetSystemCall(const char* name, Call* call) {
    const auto previous = quorvel::platform::Native().system_call(
        name, reinterpret_cast<quorvel::platform::SystemCall>(call));
    if (previous == nullptr) return false;
    calls_.emplace_back(name, previous);
    return true;
  }

 private:
  quorvel::platform::Api saved_;
  std::vector<std::pair<std::string, quorvel::platform::SystemCall>> calls_;
};

// 6 December 2026, the date of the worked examples.
inline quorvel::platform::LocalDate PinnedDate() { return {2026, 12, 6}; }

}  // namespace qtest

#endif
