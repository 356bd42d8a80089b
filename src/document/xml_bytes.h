// Which bytes of a value the document may hold as XML.
//
// The format writes every value as it is, except that mw has its angle
// brackets written as entities; so a value can make the document something an
// XML parser refuses. The bytes stay (hosts rely on them); this is where the
// library decides which ones a parser refuses, for a caller to be told.
#ifndef QUORVEL_DOCUMENT_XML_BYTES_H
#define QUORVEL_DOCUMENT_XML_BYTES_H

#include <cstddef>
#include <string_view>

namespace quorvel::document {

// How an element's value is written: mw escaped, every other value raw.
enum class Written { kRaw, kEscaped };

// The position of the first byte of `value` that XML parsers reject where
// the document writes it as `written`, or npos when there is none: "&"
// anywhere (it never begins an entity of ours), "<" in a value written raw,
// and the control bytes below 0x20 other than TAB, LF and CR.
std::size_t FirstRejectedByte(std::string_view value, Written written);

}  // namespace quorvel::document

#endif  // QUORVEL_DOCUMENT_XML_BYTES_H
