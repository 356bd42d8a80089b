// Load and unload notifications of Quorvel.dll.
//
// Start-up needs nothing of its own: the out-of-memory message is a constant,
// the slot starts empty, and the C++ runtime (linked statically) has prepared
// its emergency exception memory before this runs, so "Out of memory" can be
// raised and stored without allocating. At process detach the slot's storage
// is released before the runtime's own teardown. Thread notifications run
// nothing.
//
// Declared with plain types so that no OS header is needed above the platform
// layer: BOOL is int, DWORD is unsigned long, WINAPI is __stdcall.
#include "boundary/last_error.h"
#include "common/entry.h"

namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

extern "C" QUORVEL_REALIGNS_STACK int __stdcall DllMain(void* /*instance*/, unsigned long reason,
                                                        void* /*reserved*/) {
  if (reason == kProcessAttach) {
    quorvel::LastError().Clear();
  } else if (reason == kProcessDetach) {
    quorvel::LastError().Release();
  }
  return 1;
}
