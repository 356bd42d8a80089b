// The names of the private temporary files that exist at this moment, kept
// in fixed storage so that a handler for a terminating signal (on Windows,
// the console control handler, which runs on a thread of its own) can
// remove them: reading the list neither allocates nor locks.
#ifndef QUORVEL_TOOLS_SYSTEM_TEMPORARIES_H
#define QUORVEL_TOOLS_SYSTEM_TEMPORARIES_H

#include <string_view>

namespace quorvel::cli {

// Adds `path` to the list. A name longer than the list can hold, or one past
// the number of files it holds (far more than a command ever keeps at once),
// is left out: that file is then only removed the ordinary way.
void RememberTemporary(std::string_view path);
// Takes `path` off the list, once its file is gone (or about to be).
void ForgetTemporary(std::string_view path);

// Calls `remove` with each name on the list. Safe in a signal handler when
// `remove` is, and on another thread while the list changes.
void RemoveTemporaries(void (*remove)(const char* path)) noexcept;

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_SYSTEM_TEMPORARIES_H
