// The lines of an input as the conversions walk them: through the reader's
// window, in the one loop both conversions use, the line rule kept across
// windows by LineState.
#ifndef QUORVEL_TESTS_SUPPORT_WALKED_LINES_H
#define QUORVEL_TESTS_SUPPORT_WALKED_LINES_H

#include <cstdint>
#include <string>
#include <vector>

#include "io/input.h"

namespace qtest {

// The lines from where `reader` stands to the end, without their line
// breaks. `scanned`, when given, gets the bytes handed to the scan in all
// (each line once, however many windows it took to arrive).
std::vector<std::string> WalkedLines(quorvel::ByteReader& reader, std::uint64_t* scanned = nullptr);

}  // namespace qtest

#endif  // QUORVEL_TESTS_SUPPORT_WALKED_LINES_H
