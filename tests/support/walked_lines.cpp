#include "support/walked_lines.h"

#include <string_view>

#include "convert/walk.h"
#include "text/scan.h"

namespace qtest {

std::vector<std::string> WalkedLines(quorvel::ByteReader& reader, std::uint64_t* scanned) {
  std::vector<std::string> lines;
  quorvel::LineState state;
  quorvel::WalkContent(
      reader, state,
      [&](std::string_view chunk, bool last) {
        if (scanned != nullptr) *scanned += chunk.size();
        std::size_t begin = 0;
        return quorvel::WalkLines(
            chunk, last, '\t', [](std::size_t) {},
            [&](std::size_t stop, std::size_t next) {
              lines.emplace_back(chunk.substr(begin, stop - begin));
              begin = next;
              return true;
            });
      },
      [] {});
  return lines;
}

}  // namespace qtest
