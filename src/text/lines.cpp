#include "text/lines.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "text/scan.h"

namespace quorvel {
namespace {

// Past a line's last byte at `pos`: a CR is stepped over, then an LF.
std::size_t SkipLineBreak(std::string_view content, std::size_t pos) {
  if (pos < content.size() && (content[pos] == '\r' || content[pos] == '\t')) ++pos;
  if (pos < content.size() && content[pos] == '\n') ++pos;
  return pos;
}

}  // namespace

namespace {

// The fields of a line that holds no CR, LF or NUL (every line a reader hands
// out): the pieces between TABs, from the TAB positions of whole blocks,
// each handed to keep(field). False when the line holds one of those bytes
// after all (having kept some fields perhaps); the general walk then decides.
template <typename Keep>
bool SplitPlainLine(std::string_view line, Keep&& keep) {
  const char* const base = line.data();
  const std::size_t size = line.size();
  if (std::memchr(base, '\0', size) != nullptr) return false;
  std::size_t pos = 0;
  constexpr std::size_t kBytes = 8 * sizeof(BlockMask);
  for (std::size_t block = 0; block < size; block += kBytes) {
    const ByteMasks masks = ClassifyBlock(
        base + block, size - block < kBytes ? size - block : kBytes, '\t', '\r', '\n');
    if ((masks.b | masks.c) != 0) return false;
    for (BlockMask tabs = masks.a; tabs != 0; tabs &= tabs - 1) {
      const std::size_t at = block + LowestBit(tabs);
      keep(line.substr(pos, at - pos));
      pos = at + 1;
    }
  }
  // One TAB at the very end adds no field.
  if (pos < size) keep(line.substr(pos));
  return true;
}

}  // namespace

std::int32_t SplitTabFields(std::string_view line, FieldList& target) {
  target.Reset();
  if (SplitPlainLine(line, [&](std::string_view field) { target.Push(field); })) {
    return target.count();
  }
  // The line-splitting rule with TAB acting as CR: every TAB, CR or LF at or
  // after the current field's start ends it (SkipLineBreak steps over a TAB as
  // over a CR, and an LF right after it); the first NUL ends the text.
  target.Reset();
  const char* const base = line.data();
  std::size_t pos = 0;
  std::size_t size = line.size();
  auto add = [&](std::size_t stop) { target.Push(line.substr(pos, stop - pos)); };
  ForEachByteOf(base, base + line.size(), '\t', '\r', '\n', '\0', [&](const char* p) {
    const auto at = static_cast<std::size_t>(p - base);
    if (*p == '\0') {
      size = at;
      return false;
    }
    if (at < pos) return true;  // the LF of a break already stepped over
    add(at);
    pos = SkipLineBreak(line, at);
    return true;
  });
  if (pos < size) add(size);
  return target.count();
}

}  // namespace quorvel
