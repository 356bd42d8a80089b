#include "io/output.h"

#include <utility>

#include "common/failure.h"
#include "common/sizes.h"

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

}  // namespace

LineWriter::LineWriter(const char* path)
    : path_(path ? path : ""), buffer_(new char[kChunk]), capacity_(kChunk) {}

LineWriter::~LineWriter() { Abandon(); }

void LineWriter::Abandon() {
  if (temp_ == platform::kNoHandle) return;
  platform::Current().close(temp_);
  platform::Current().remove(temp_path_.c_str());
  temp_ = platform::kNoHandle;
}

// Chooses where the bytes go, on the first full buffer or at Save().
void LineWriter::Decide() {
  if (path_.empty()) {
    create_failed_ = true;
    sink_ = Sink::kDiscard;
    return;
  }
  target_ = platform::Current().inspect_target(path_.c_str());
  if (target_.kind == platform::TargetKind::kDevice) {
    sink_ = Sink::kMemory;
  } else if (platform::Current().create_temp(target_.path.c_str(), &temp_, &temp_path_)) {
    sink_ = Sink::kTempFile;
  } else {
    temp_ = platform::kNoHandle;
    create_failed_ = true;
    sink_ = Sink::kDiscard;
  }
}

// Writes to the temporary file. Once a write falls short the save's outcome is
// settled: the file is given up at once (freeing its disk space) and later
// bytes are dropped.
void LineWriter::WriteToTemp(const char* bytes, std::size_t size) {
  if (WriteAll(temp_, bytes, size)) return;
  write_failed_ = true;
  Abandon();
  sink_ = Sink::kDiscard;
}

// Empties the buffer into the temporary file (or drops it once the stream has
// failed: the save's outcome is already settled).
void LineWriter::Drain() {
  if (sink_ == Sink::kUndecided) Decide();
  if (sink_ == Sink::kTempFile) WriteToTemp(buffer_.get(), used_);
  if (sink_ != Sink::kMemory) used_ = 0;
}

void LineWriter::AppendSlow(std::string_view bytes) {
  if (sink_ == Sink::kUndecided) Decide();
  if (sink_ != Sink::kMemory && bytes.size() > capacity_) {
    // Larger than the whole buffer: goes straight through.
    Drain();
    if (sink_ == Sink::kTempFile) WriteToTemp(bytes.data(), bytes.size());
    return;
  }
  MakeRoom(bytes.size());
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

// Makes room for `size` more bytes: drains the buffer into the file, or, for
// a device target whose output waits in memory, grows it.
void LineWriter::MakeRoom(std::size_t size) {
  if (sink_ == Sink::kUndecided) Decide();
  if (sink_ != Sink::kMemory) Drain();
  if (capacity_ - used_ >= size) return;
  const std::size_t capacity = GrownCapacity(capacity_, AddOrOutOfMemory(used_, size));
  std::unique_ptr<char[]> bigger(new char[capacity]);
  std::memcpy(bigger.get(), buffer_.get(), used_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

void LineWriter::Save() {
  if (sink_ == Sink::kUndecided) Decide();
  if (sink_ == Sink::kMemory) {
    platform::Handle handle;
    if (!platform::Current().open_in_place(path_.c_str(), &handle)) RaiseCannotCreateFile(path_);
    const bool written = WriteAll(handle, buffer_.get(), used_);
    const bool closed = platform::Current().close(handle);
    if (!written || !closed) RaiseStreamWriteError();
    return;
  }
  Drain();
  if (create_failed_) RaiseCannotCreateFile(path_);
  if (write_failed_) RaiseStreamWriteError();
  const platform::Handle temp = std::exchange(temp_, platform::kNoHandle);
  if (!platform::Current().close(temp)) {
    platform::Current().remove(temp_path_.c_str());
    RaiseStreamWriteError();
  }
  if (!platform::Current().replace(temp_path_.c_str(), target_.path.c_str())) {
    platform::Current().remove(temp_path_.c_str());
    RaiseCannotCreateFile(path_);
  }
}

}  // namespace quorvel
