#include "system/temporaries.h"

#include <array>
#include <atomic>
#include <cstring>

namespace quorvel::cli {
namespace {

// A slot's state: free, being written by its owner, holding a name, or
// held by RemoveTemporaries while it reads the name.
enum SlotState : int { kFree, kWriting, kReady, kReading };

struct Slot {
  std::atomic<int> state{kFree};
  char path[4096];
};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

std::array<Slot, 16> slots;

}  // namespace

void RememberTemporary(std::string_view path) {
  if (path.size() >= sizeof slots[0].path) return;
  for (Slot& slot : slots) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kWriting)) continue;
    std::memcpy(slot.path, path.data(), path.size());
    slot.path[path.size()] = '\0';
    slot.state.store(kReady, std::memory_order_release);
    return;
  }
}

void ForgetTemporary(std::string_view path) {
  for (Slot& slot : slots) {
    // Only this thread writes a name, so one that is ready can be read here.
    if (slot.state.load(std::memory_order_acquire) < kReady || path != slot.path) continue;
    // The console handler may hold the slot for as long as one removal takes.
    for (int expected = kReady; !slot.state.compare_exchange_weak(expected, kFree);) {
      expected = kReady;
    }
    return;
  }
}

void RemoveTemporaries(void (*remove)(const char* path)) noexcept {
  for (Slot& slot : slots) {
    int expected = kReady;
    if (!slot.state.compare_exchange_strong(expected, kReading)) continue;
    remove(slot.path);
    slot.state.store(kReady, std::memory_order_release);
  }
}

}  // namespace quorvel::cli
