// Tells a conversion's observer of the temporary files its save holds and
// of the target written in place, so that a host that is interrupted can
// remove the first and leave the second whole.
#ifndef QUORVEL_CONVERT_TEMPORARIES_H
#define QUORVEL_CONVERT_TEMPORARIES_H

#include <string_view>

#include "convert/findings.h"
#include "io/save.h"

namespace quorvel {

class TemporariesToFindings final : public TemporaryListener {
 public:
  explicit TemporariesToFindings(Findings* findings) : findings_(findings) {}
  // What the writer is given: none when nobody is to be told.
  TemporaryListener* listener() { return findings_ != nullptr ? this : nullptr; }
  void Held(std::string_view path, bool held) noexcept override {
    findings_->Temporary(path, held);
  }
  void WritingInPlace(bool writing) noexcept override { findings_->WritingInPlace(writing); }

 private:
  Findings* findings_;
};

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_TEMPORARIES_H
