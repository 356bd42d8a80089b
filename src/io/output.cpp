#include "io/output.h"

#include <utility>

#include "common/failure.h"

namespace quorvel {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

// Writes all `size` bytes; false as soon as the system writes none or fails.
bool WriteAll(platform::Handle handle, const char* bytes, std::size_t size) {
  while (size > 0) {
    const std::ptrdiff_t n = platform::Current().write(handle, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Room for a reservation is always made by emptying the buffer.
static_assert(LineWriter::kMaxReserve <= kChunk);

}  // namespace

LineWriter::LineWriter(const char* path)
    : path_(path ? path : ""), buffer_(new char[kChunk]), capacity_(kChunk) {}

LineWriter::~LineWriter() {
  background_.Wait();
  Abandon();
}

// Removes the temporary file the save has made and not yet put in place.
void LineWriter::Abandon() {
  platform::Api& api = platform::Current();
  if (temp_ != platform::kNoHandle) api.close(std::exchange(temp_, platform::kNoHandle));
  if (!temp_path_.empty()) api.remove(temp_path_.c_str());
  temp_path_.clear();
}

// Chooses where the bytes go, on the first full buffer or at Save(). A
// target that cannot be saved to is known here, before any output is kept;
// its failure waits for Save(). An existing file beside which no temporary
// file can be made (a folder where the caller may not create files) is
// rewritten in place instead.
void LineWriter::Decide() {
  sink_ = Sink::kDiscard;
  if (path_.empty()) {
    create_failed_ = true;
    return;
  }
  platform::Api& api = platform::Current();
  target_ = api.inspect_target(path_.c_str());
  bool created = false;
  if (target_.kind == platform::TargetKind::kReplace) {
    created = api.create_temp(target_.path.c_str(), &temp_, &temp_path_);
    sink_ = Sink::kTempFile;
    if (!created && target_.exists) target_.kind = platform::TargetKind::kInPlace;
    // The file to be replaced stays whole until the replace, but what is
    // cached of it is of no more use: the pages go back to the system
    // before the new file needs its own. (Should the target be the
    // conversion's own input, what is left of it is read from the disk
    // again: slower, never different.)
    if (created && target_.exists) api.release_cache(target_.path.c_str());
  }
  if (target_.kind == platform::TargetKind::kInPlace ||
      target_.kind == platform::TargetKind::kStream) {
    created = api.open_spool(&temp_);
    sink_ = Sink::kSpool;
  }
  if (!created) {
    temp_ = platform::kNoHandle;
    temp_path_.clear();
    create_failed_ = true;
    sink_ = Sink::kDiscard;
  }
}

// Writes to the temporary file or spool, on either thread; true when every
// byte went out. A file that will be flushed starts on its way to the disk
// now.
bool LineWriter::WriteOut(const char* bytes, std::size_t size) {
  if (!WriteAll(temp_, bytes, size)) return false;
  if (sink_ == Sink::kTempFile) platform::Current().start_writeback(temp_, written_, size);
  return true;
}

// Counts a write that went out. Once one falls short the save's outcome is
// settled: the file is given up as soon as that is known (at once, or for a
// buffer written behind, before the next one goes out), freeing its disk
// space, and later bytes are dropped.
void LineWriter::Settle(bool written, std::size_t size) {
  if (written) {
    written_ += size;
    return;
  }
  write_failed_ = true;
  Abandon();
  sink_ = Sink::kDiscard;
}

void LineWriter::Write(const char* bytes, std::size_t size) { Settle(WriteOut(bytes, size), size); }

// The write of the spare buffer, on the second thread: it touches only the
// file, `spare_` and what FinishWriteBehind reads after it.
void LineWriter::WriteBehindJob(void* writer) {
  auto* self = static_cast<LineWriter*>(writer);
  self->behind_written_ = self->WriteOut(self->spare_.get(), self->behind_size_);
}

void LineWriter::FinishWriteBehind() {
  if (!background_.busy()) return;
  background_.Wait();
  Settle(behind_written_, behind_size_);
}

// Empties the buffer into the file (or drops it when the outcome is already
// settled). A full buffer that is not the last goes out behind the
// conversion's back, which goes on filling the other one.
void LineWriter::Drain(bool last) {
  if (sink_ == Sink::kUndecided) Decide();
  FinishWriteBehind();
  if (sink_ != Sink::kDiscard && used_ > 0) {
    if (last) {
      Write(buffer_.get(), used_);
    } else {
      if (!spare_) spare_.reset(new char[capacity_]);
      std::swap(buffer_, spare_);
      behind_size_ = used_;
      background_.Start(&WriteBehindJob, this);
    }
  }
  used_ = 0;
}

void LineWriter::AppendSlow(std::string_view bytes) {
  Drain(false);
  if (bytes.size() > capacity_) {
    FinishWriteBehind();
    // Larger than the whole buffer: goes straight through.
    if (sink_ != Sink::kDiscard) Write(bytes.data(), bytes.size());
    return;
  }
  std::memcpy(buffer_.get(), bytes.data(), bytes.size());
  used_ = bytes.size();
}

void LineWriter::Save() {
  Drain(true);
  if (create_failed_) RaiseCannotCreateFile(path_);
  if (write_failed_) RaiseStreamWriteError();
  if (sink_ == Sink::kSpool) {
    CopyInPlace();
  } else {
    ReplaceTarget();
  }
}

// Puts the temporary file in the target's place, durably; or, where a new
// file may not stand in for the target (its owner or group cannot be given,
// it has gained a second name, the system refuses the replacement), rewrites
// the target in place from it.
void LineWriter::ReplaceTarget() {
  platform::Api& api = platform::Current();
  if (!api.take_over(temp_, temp_path_.c_str(), target_.path.c_str())) {
    CopyInPlace();
    return;
  }
  // Failures leave the cleaning up to the destructor.
  if (!api.flush(temp_)) RaiseStreamWriteError();
  if (!api.close(std::exchange(temp_, platform::kNoHandle))) RaiseStreamWriteError();
  switch (api.replace(temp_path_.c_str(), target_.path.c_str())) {
    case platform::Replaced::kYes:
      temp_path_.clear();
      // The new file is in place whatever this reports: see the header.
      (void)api.sync_folder(target_.path.c_str());
      return;
    case platform::Replaced::kStranded:
      // The old file is gone: the new content is kept under its temporary
      // name rather than lost with it.
      temp_path_.clear();
      RaiseCannotCreateFile(path_);
    case platform::Replaced::kRefused: {
      platform::InputInfo info;
      if (!target_.exists || !api.open_for_read(temp_path_.c_str(), &temp_, &info)) {
        temp_ = platform::kNoHandle;
        RaiseCannotCreateFile(path_);
      }
      CopyInPlace();
      return;
    }
  }
}

// Copies the finished output from the temporary file or spool into the
// target, opened in place, through the writer's own buffer. The output's
// length is reserved first, so that a disk without room for it fails the
// save while the target is still whole; then the target is written from its
// first byte and cut to that length.
void LineWriter::CopyInPlace() {
  platform::Api& api = platform::Current();
  platform::Handle out;
  if (!api.open_in_place(target_.path.c_str(), &out)) RaiseCannotCreateFile(path_);
  bool copied = api.reserve(out, written_) && api.rewind(temp_);
  while (copied) {
    const std::ptrdiff_t n = api.read(temp_, buffer_.get(), capacity_);
    if (n <= 0) {
      copied = n == 0;
      break;
    }
    copied = WriteAll(out, buffer_.get(), static_cast<std::size_t>(n));
  }
  copied = copied && api.set_length(out, written_) && api.flush(out);
  const bool closed = api.close(out);
  if (!copied || !closed) RaiseStreamWriteError();
}

}  // namespace quorvel
