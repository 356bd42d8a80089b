// The file the library is to read: the user's own, or a private copy of it
// (a stream's content, or the input converted to the character set the
// library is to read), after a look at its head.
#ifndef QUORVEL_TOOLS_COMMANDS_INPUTS_H
#define QUORVEL_TOOLS_COMMANDS_INPUTS_H

#include <cstdio>
#include <string>

#include "charset/charset.h"
#include "charset/sniff.h"
#include "commands/context.h"
#include "system/files.h"

namespace quorvel::cli {

// An input open for reading, its head read.
struct OpenedInput {
  File holder;
  std::FILE* stream = nullptr;
  bool regular = false;  // the library can read it again after this program did
  std::string head_bytes;
  Head head;
};

// Opens `in` (standard input, or the file) and reads its head. Returns
// kGoOn, or the exit code after reporting.
int OpenInput(Context& context, const Endpoint& in, OpenedInput* opened);

struct LibraryInput {
  TempFile temp;
  std::string path;
};

// Makes what the library reads of the opened input `in`, converted from
// `from` to `to` when they differ: a regular file that needs no conversion
// is read by the library itself, anything else through a private copy,
// named as `in` in messages. Returns kGoOn, or the exit code after reporting.
int PrepareInput(Context& context, const Endpoint& in, OpenedInput& opened, Charset from,
                 Charset to, LibraryInput* input);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_INPUTS_H
