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

std::string_view BeforeFirstNul(std::string_view content) {
  const void* nul = std::memchr(content.data(), '\0', content.size());
  if (nul == nullptr) return content;
  return content.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - content.data()));
}

std::int32_t SplitTabFields(std::string_view line, FieldList& target) {
  // The line-splitting rule with TAB acting as CR: every TAB, CR or LF at or
  // after the current field's start ends it (SkipLineBreak steps over a TAB as
  // over a CR, and an LF right after it); the first NUL ends the text.
  const char* const base = line.data();
  std::int32_t count = 0;
  std::size_t pos = 0;
  std::size_t size = line.size();
  auto add = [&](std::size_t stop) {
    if (count < FieldList::kKept) target.kept_[static_cast<std::size_t>(count)] = line.substr(pos, stop - pos);
    if (count < std::numeric_limits<std::int32_t>::max()) ++count;
  };
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
  target.count_ = count;
  return count;
}

}  // namespace quorvel
