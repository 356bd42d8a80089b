// The two ways a row is put into the output: straight into room reserved in
// the writer's buffer, unchecked (a row whose size is bounded), or through
// the writer's checked appends (any other). Both offer the same pieces, the
// XML escaping of mw and its undoing included, so that one template writes a
// row either way.
#ifndef QUORVEL_CONVERT_RUNS_H
#define QUORVEL_CONVERT_RUNS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/copy.h"
#include "document/layout.h"
#include "document/xml_bytes.h"
#include "io/output.h"

namespace quorvel {

// Puts pieces into room reserved with LineWriter::Reserve, unchecked: the
// reservation already guarantees the space. Commit() hands the end back.
class ReservedRun {
 public:
  ReservedRun(LineWriter& out, std::size_t size) : out_(out), at_(out.Reserve(size)) {}
  void Append(std::string_view bytes) {
    CopyBytes(at_, bytes.data(), bytes.size());
    at_ += bytes.size();
  }
  // Appends a fixed piece whole, its 32 bytes copied at once: the room
  // reserved holds kPieceSlack bytes past the row.
  void AppendPiece(const document::Joint& piece) {
    std::memcpy(at_, piece.bytes, 16);
    if (piece.size > 16) std::memcpy(at_ + 16, piece.bytes + 16, 16);
    at_ += piece.size;
  }
  // Appends `value`, whose bytes up to `readable_end` may be read: a value
  // of up to sixteen bytes with as many readable goes in one copy of sixteen
  // (kPieceSlack again), a longer one sixteen at a time.
  void AppendValue(std::string_view value, const char* readable_end) {
    const char* const from = value.data();
    const std::size_t n = value.size();
    if (n >= 16) {
      for (std::size_t i = 0; i < n - 16; i += 16) std::memcpy(at_ + i, from + i, 16);
      std::memcpy(at_ + n - 16, from + n - 16, 16);
      at_ += n;
    } else if (readable_end - from >= 16) {
      std::memcpy(at_, from, 16);
      at_ += n;
    } else {
      Append(value);
    }
  }
  static constexpr std::size_t kPieceSlack = 32;
  void Put(char byte) { *at_++ = byte; }
  // Appends the first N bytes of `word` as it lies in memory: a piece built
  // in a register, stored straight into place.
  template <std::size_t N>
  void AppendWordBytes(std::uint64_t word) {
    static_assert(N <= sizeof word);
    std::memcpy(at_, &word, N);
    at_ += N;
  }
  void EndLine() {
    at_[0] = '\r';
    at_[1] = '\n';
    at_ += 2;
  }
  // Appends `text` escaped (room for four times its size and
  // document::kEscapeSlack included in the reservation).
  void AppendEscaped(std::string_view text) { at_ = document::EscapeAngleBracketsInto(text, at_); }
  // Appends `text` unescaped (never longer, plus the copy's slack).
  void AppendUnescaped(std::string_view text) {
    at_ = document::UnescapeAngleBracketsInto(text, at_);
  }
  void Commit() { out_.Commit(at_); }

 private:
  LineWriter& out_;
  char* at_;
};

// The same pieces through the writer's checked appends.
class CheckedRun {
 public:
  explicit CheckedRun(LineWriter& out) : out_(out) {}
  void Append(std::string_view bytes) { out_.Append(bytes); }
  void AppendPiece(const document::Joint& piece) { out_.Append(piece.view()); }
  void AppendValue(std::string_view value, const char*) { out_.Append(value); }
  void Put(char byte) { out_.Put(byte); }
  template <std::size_t N>
  void AppendWordBytes(std::uint64_t word) {
    static_assert(N <= sizeof word);
    char bytes[N];
    std::memcpy(bytes, &word, N);
    out_.Append(std::string_view(bytes, N));
  }
  void EndLine() { out_.EndLine(); }
  void AppendEscaped(std::string_view text) {
    document::EscapeAngleBracketsTo(text, [this](std::string_view piece) { out_.Append(piece); });
  }
  void AppendUnescaped(std::string_view text) {
    document::UnescapeAngleBracketsTo(text, [this](std::string_view piece) { out_.Append(piece); });
  }

 private:
  LineWriter& out_;
};

// write(run) with a ReservedRun when `bound` bytes may be reserved, else
// with a CheckedRun.
template <typename Write>
void WriteBounded(LineWriter& out, std::size_t bound, Write&& write) {
  if (bound <= LineWriter::kMaxReserve) {
    ReservedRun run(out, bound);
    write(run);
    run.Commit();
  } else {
    CheckedRun run(out);
    write(run);
  }
}

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_RUNS_H
