// Plain references for byte routines whose fast forms the library uses: each
// says, in the most direct way, what the fast form must give. Tests, fuzz
// targets and benchmarks hold the library's routines against these.
#ifndef QUORVEL_TESTS_SUPPORT_TEXT_REFERENCE_H
#define QUORVEL_TESTS_SUPPORT_TEXT_REFERENCE_H

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qtest {

// `content` up to its first NUL byte, which ends every text.
std::string_view BeforeFirstNul(std::string_view content);

// The smallest 1-based position at which `pattern` occurs in `text`; 0 when it
// does not, when the pattern is empty, or when the text is shorter.
std::size_t FindText(std::string_view pattern, std::string_view text);

// The whole text with "<" and ">" escaped (or "&lt;" and "&gt;" unescaped),
// built through the library's streaming forms.
std::string EscapeAngleBrackets(std::string_view text);
std::string UnescapeAngleBrackets(std::string_view text);

// The value of element `name` on one document line by two plain searches:
// the bytes between the first "<name>" and the first "</name>" (each searched
// from the start of the line), trimmed by the library's trim. Empty when
// either tag is missing or the closing tag does not come first.
std::string_view ExtractElementText(std::string_view line, std::string_view name);

// values[k] = the element value for names[k] by the library's one-walk
// scanner, every entry set (empty where the element is missing).
void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values);

}  // namespace qtest

#endif  // QUORVEL_TESTS_SUPPORT_TEXT_REFERENCE_H
