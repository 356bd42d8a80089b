// What a conversion found, told to the user: the warnings and refusals of
// the findings the observer kept, each named by file and line.
#ifndef QUORVEL_TOOLS_COMMANDS_VERDICTS_H
#define QUORVEL_TOOLS_COMMANDS_VERDICTS_H

#include "commands/context.h"
#include "present/observer.h"

namespace quorvel::cli {

// A NUL that ended the text `in` early, the lines of neither 10 nor 8
// fields and the values unfit for the document, read from it.
void ReportTextFindings(const Context& context, const Endpoint& in, const Observer& found);

// Where a NUL ended the content of `in` early, if one did.
void ReportNul(const Context& context, const Endpoint& in, const Observer& found);

// Why the text conversion was stopped (or would be), after its findings.
// `written`: the command would have written a file, which it did not.
void ReportRefusal(const Context& context, const Endpoint& in, const Observer& found, bool written);

// The rows value of the document `in` against its row blocks, when they differ.
void ReportRowCount(const Context& context, const Endpoint& in, const Observer& found);

// The incomplete row blocks: the first kShownNotes, then a count.
void ReportIncompleteRows(const Context& context, const Observer& found);

// The warning for a document type without a title of its own; false when
// the type has one.
bool WarnOfType(const Context& context);

// The policy a conversion's observer follows, from the request.
Policy PolicyOf(const Request& request);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_VERDICTS_H
