// Which two-byte codes are GBK characters: XML parsers decode a document
// that says it is GBK through a table (iconv's), and refuse a code that has
// the shape of a character but no place in it (D7FA, A1A0, the user-defined
// areas AAA1-AFFE, F8A1-FEFE and A140-A7A0, ...). The library converts no
// character set, so the table is kept here, a bit per code.
#ifndef QUORVEL_DOCUMENT_GBK_PAIRS_H
#define QUORVEL_DOCUMENT_GBK_PAIRS_H

#include <cstdint>

namespace quorvel::document {

// Row lead - 0x81, bit trail - 0x40 of its 192: set when the lead byte
// (0x81-0xFE) and the trail byte (0x40-0xFE) make a character.
extern const std::uint64_t kGbkPairs[126][3];

// Whether `lead` followed by `trail` is a GBK character; any bytes.
inline bool IsGbkPair(unsigned lead, unsigned trail) {
  if (lead - 0x81 >= 126 || trail - 0x40 >= 191) return false;
  const unsigned cell = trail - 0x40;
  return (kGbkPairs[lead - 0x81][cell >> 6] >> (cell & 63) & 1) != 0;
}

}  // namespace quorvel::document

#endif  // QUORVEL_DOCUMENT_GBK_PAIRS_H
