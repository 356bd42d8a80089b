#include "present/progress.h"

#include <cstdlib>
#include <string>

#include "present/report.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// "98.3": one decimal, without the C library's locale-dependent formatting.
std::string OneDecimal(double value) {
  const auto tenths = static_cast<std::int64_t>(value * 10 + 0.5);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// How long a conversion runs before the line shows: about a second.
// QUORVEL_PROGRESS_DELAY_MS shortens it, so that the line can be tested
// without a conversion that long.
std::chrono::milliseconds Delay() {
  const char* text = std::getenv("QUORVEL_PROGRESS_DELAY_MS");
  if (text == nullptr || *text == '\0') return std::chrono::milliseconds(1000);
  return std::chrono::milliseconds(std::strtol(text, nullptr, 10));
}

constexpr auto kRedraw = std::chrono::milliseconds(250);

}  // namespace

ProgressLine::ProgressLine(bool wanted)
    : enabled_(wanted && StandardErrorIsTerminal()), start_(Clock::now()), delay_(Delay()) {}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total, std::int64_t rows) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < delay_ || (drawn_ != 0 && now - drawn_at_ < kRedraw)) return;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = "\rquorvel: ";
  if (total != 0) line += std::to_string(done * 100 / total) + "% ";
  line += std::to_string(rows) + " rows " + OneDecimal(done / 1e6 / seconds) + " MB/s";
  const std::size_t width = line.size() - 1;
  if (width < drawn_) line.append(drawn_ - width, ' ');
  WriteError(line);
  std::fflush(stderr);
  drawn_ = width;
  drawn_at_ = now;
}

void ProgressLine::Erase() {
  if (drawn_ == 0) return;
  // Spaces over the line, CR either side. (Built in place: GCC 12 warns
  // falsely of "\r" + std::string.)
  std::string blank(drawn_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  WriteError(blank);
  std::fflush(stderr);
  drawn_ = 0;
}

}  // namespace quorvel::cli
