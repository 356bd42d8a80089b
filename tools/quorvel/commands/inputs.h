// The file the library is to read: the user's own, or a private copy of it
// (a stream's content, or the input converted to the character set the
// library is to read), and a look at its head.
#ifndef QUORVEL_TOOLS_COMMANDS_INPUTS_H
#define QUORVEL_TOOLS_COMMANDS_INPUTS_H

#include <string>

#include "charset/charset.h"
#include "charset/sniff.h"
#include "commands/context.h"
#include "system/files.h"

namespace quorvel::cli {

struct LibraryInput {
  TempFile temp;
  std::string path;
  Head head;  // of what the library reads
};

// Prepares `in` for the library, converted from `from` to `to` when they
// differ: a regular file that needs no conversion is read by the library
// itself, anything else through a private copy, named as `in` in messages.
// Returns kGoOn, or the exit code after reporting.
int PrepareInput(Context& context, const Endpoint& in, Charset from, Charset to,
                 LibraryInput* input);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_INPUTS_H
