#include "io/output.h"

#include <utility>

#include "common/failure.h"

namespace quorvel {
namespace {

// The buffer the output gathers in: 1 MiB. A fuzzing build makes it the
// least a reservation needs (QUORVEL_OUTPUT_CHUNK), so that no run pays for
// a megabyte and outputs of a fuzzer's size are written behind too.
#ifdef QUORVEL_OUTPUT_CHUNK
constexpr std::size_t kChunk = QUORVEL_OUTPUT_CHUNK;
#else
constexpr std::size_t kChunk = std::size_t{1} << 20;
#endif

// How much a file whose write-back the system cannot be asked to start may
// gain before it is flushed behind the writer. Small: a flush only starts
// once the one before has finished, so on a slow disk the flushes space
// themselves out, and on a fast one the save's last flush finds at most a
// few megabytes. At 16 MiB it found up to 16, 5 to 7 ms of a 100 MB call.
constexpr std::uint64_t kFlushEvery = std::uint64_t{2} << 20;

// Room for a reservation is always made by emptying the buffer.
static_assert(LineWriter::kMaxReserve <= kChunk);

}  // namespace

LineWriter::LineWriter(const char* path, TemporaryListener* listener)
    : buffer_(new char[kChunk]), capacity_(kChunk), save_(path ? path : "", listener) {}

LineWriter::~LineWriter() {
  background_.Wait();
  flusher_.Wait();
  save_.Abandon();
}

// Chooses where the bytes go, on the first full buffer or at Save(). A
// target that cannot be saved to is known here, before any output is kept;
// its failure waits for Save().
void LineWriter::Decide() {
  const bool opened = save_.Open();
  sink_ = opened ? Sink::kFile : Sink::kDiscard;
  create_failed_ = !opened;
}

// Writes to the temporary file or spool, on either thread: 0 when every
// byte went out. A file that will be flushed starts on its way to the disk
// now.
platform::Error LineWriter::WriteOut(const char* bytes, std::size_t size) {
  const platform::Error error = WriteAll(save_.handle(), bytes, size);
  if (error == 0 && save_.flushed() &&
      !platform::Current().start_writeback(save_.handle(), written_, size)) {
    FlushBehind(written_ + size);
  }
  return error;
}

// Where the system cannot be asked to start writing a file back (Windows has
// no such call), the file is flushed every kFlushEvery bytes on a thread of
// its own, beside the writing, so that the flush the save ends with finds
// little left to write: it would otherwise write the whole output back while
// the caller waits. A flush still under way is left to finish; a later write
// starts the next. A flush that fails fails the save: the system tells a
// failure to write the file back once, to the first flush that meets it
// (Linux, under Wine, among them), so the save's own flush would not.
void LineWriter::FlushBehind(std::uint64_t end) {
  if (end - flushed_to_ < kFlushEvery || !flusher_.Idle()) return;
  flusher_.Wait();
  flushed_to_ = end;
  flusher_.Start(&FlushJob, this);
}

// The flush behind, on its thread: it touches only the file, which stays
// open until the flush has been waited for.
void LineWriter::FlushJob(void* writer) {
  auto* self = static_cast<LineWriter*>(writer);
  const platform::Error error = platform::Current().flush(self->save_.handle());
  if (self->flush_error_ == 0) self->flush_error_ = error;
}

// Counts a write that went out. Once one falls short the save's outcome is
// settled: the file is given up as soon as that is known (at once, or for a
// buffer written behind, before the next one goes out), freeing its disk
// space, and later bytes are dropped.
void LineWriter::Settle(platform::Error error, std::size_t size) {
  if (error == 0) {
    written_ += size;
    return;
  }
  write_failed_ = true;
  write_error_ = error;
  flusher_.Wait();
  save_.Abandon();
  sink_ = Sink::kDiscard;
}

void LineWriter::Write(const char* bytes, std::size_t size) { Settle(WriteOut(bytes, size), size); }

// The write of the spare buffer, on the second thread: it touches only the
// file, `spare_` and what FinishWriteBehind reads after it.
void LineWriter::WriteBehindJob(void* writer) {
  auto* self = static_cast<LineWriter*>(writer);
  self->behind_error_ = self->WriteOut(self->spare_.get(), self->behind_size_);
}

void LineWriter::FinishWriteBehind() {
  if (!background_.busy()) return;
  background_.Wait();
  Settle(behind_error_, behind_size_);
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
  flusher_.Wait();
  if (create_failed_) RaiseCannotCreateFile(save_.path(), SystemError(save_.error()));
  if (write_failed_) RaiseStreamWriteError(SystemError(write_error_));
  if (flush_error_ != 0) RaiseStreamWriteError(SystemError(flush_error_));
  save_.Finish(written_, buffer_.get(), capacity_);
}

}  // namespace quorvel
