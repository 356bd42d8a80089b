// What a conversion finds, told to its caller as values.
//
// The three exports pass no observer: their bytes, results and messages do
// not depend on one. The command-line host passes one and makes its own
// lines from these values; it never reads meaning out of a message text and
// never walks the input itself. A conversion calls the observer on its own
// thread, in input order, from the same read that converts.
//
// An observer may stop a conversion by raising from any call: the conversion
// then unwinds, writes nothing and leaves the target exactly as it was. What
// it raises reaches the caller unchanged (nothing in the library catches).
//
// Views passed to an observer are valid only during the call.
#ifndef QUORVEL_CONVERT_FINDINGS_H
#define QUORVEL_CONVERT_FINDINGS_H

#include <cstdint>
#include <string_view>

#include "document/xml_bytes.h"

namespace quorvel {

// A row block of a returned document that lacks one of its eleven values.
struct IncompleteRow {
  std::int64_t ordinal = 0;     // 1 for the first block read
  std::string_view id;          // its opening line's id="..." value; empty when none
  std::int64_t first_line = 0;  // 1-based numbers of its opening and closing lines
  std::int64_t last_line = 0;
  std::uint32_t missing = 0;  // bit k: document::kResultRowElements[k] was not found
};

// A value that makes the document one XML parsers reject, or one whose
// lines no longer hold an element each (document::Unfit says which): the
// format keeps the bytes, the host warns.
struct RejectedValue {
  std::int64_t line = 0;     // 1-based input line; 0 for a header value (nsr, qymc)
  std::string_view element;  // the element it is written in: "qymc", "dm", ...
  char byte = 0;             // the first byte of what is unfit
  document::Unfit why = document::Unfit::kByte;
};

// The content ended at a NUL byte, where reading stops: nothing after it is
// converted.
struct NulEnd {
  std::int64_t line = 0;        // 1-based line the NUL is on
  std::uint64_t following = 0;  // bytes after it: exactly, for a file of a
                                // steady size; else those read with it
  bool exact = false;
};

class Findings {
 public:
  virtual ~Findings() = default;

  // `done` bytes of `total` input bytes converted (total 0 when the size is
  // not known). Called a few times per window, never per line.
  virtual void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/, std::int64_t /*rows*/) {}

  // txt2xml: input line `line` has `fields` fields (neither 10 nor 8) and
  // becomes a row without elements. `text` is the line, without its break.
  virtual void EmptyRow(std::int64_t /*line*/, std::int32_t /*fields*/, std::string_view /*text*/) {
  }

  // txt2xml: a value makes the document not well-formed XML.
  virtual void Rejected(const RejectedValue& /*value*/) {}

  // The content ended at a NUL byte with bytes after it, or in a stream,
  // where what follows is not read. Called once the walk has reached it.
  virtual void EndedAtNul(const NulEnd& /*end*/) {}

  // txt2xml: the rows written, once the document is complete.
  virtual void RowsWritten(std::int64_t /*rows*/) {}

  // xml2txt: a row block lacks values (the conversion then writes nothing).
  virtual void Incomplete(const IncompleteRow& /*row*/) {}

  // xml2txt: the header's rows value against the row blocks the document
  // holds (counted to its end when an observer is given).
  virtual void RowCount(std::int32_t /*declared*/, std::int64_t /*blocks*/) {}

  // The save holds a temporary file at `path` (held true) or no longer does
  // (held false), so a host that is interrupted can remove it. Must not
  // raise: the last call comes after the target was replaced, when nothing
  // may fail any more.
  virtual void Temporary(std::string_view /*path*/, bool /*held*/) noexcept {}

  // The target itself is being written in place (true: a device, a pipe, a
  // file a new one may not stand in for) or no longer is (false). An
  // interruption in between leaves it partly written, so a host defers its
  // ending until the second call. Must not raise.
  virtual void WritingInPlace(bool /*writing*/) noexcept {}
};

// A date given instead of the platform's clock (the document's scrq).
struct Date {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
};

struct ConvertOptions {
  Findings* findings = nullptr;  // null: nobody is told
  const Date* date = nullptr;    // null: today, from the platform's clock
};

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_FINDINGS_H
