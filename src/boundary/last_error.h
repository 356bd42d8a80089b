// LastErrorSlot: the one process-wide slot holding the most recent failure
// message. Deliberately a plain global, not thread_local: the host serialises
// its calls, and mingw has a history of crashes destroying non-trivial
// thread_local objects at thread exit.
#ifndef QUORVEL_BOUNDARY_LAST_ERROR_H
#define QUORVEL_BOUNDARY_LAST_ERROR_H

#include <string>
#include <string_view>

namespace quorvel {

class LastErrorSlot {
 public:
  std::string_view text() const noexcept { return text_; }
  void Clear() noexcept { text_ = {}; }
  // Takes the message's storage: storing allocates nothing.
  void Store(std::string&& message) noexcept {
    owned_ = std::move(message);
    text_ = owned_;
  }
  // Points at a constant text (the out-of-memory message): needs no memory.
  void StoreConstant(std::string_view text) noexcept { text_ = text; }
  // Gives the storage back (at unload).
  void Release() noexcept {
    text_ = {};
    std::string().swap(owned_);
  }

 private:
  std::string owned_;
  std::string_view text_;
};

LastErrorSlot& LastError() noexcept;

}  // namespace quorvel

#endif  // QUORVEL_BOUNDARY_LAST_ERROR_H
