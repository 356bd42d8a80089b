// Google Benchmark figures for the hot primitives, on realistic lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/walk.h"
#include "document/layout.h"
#include "document/xml_bytes.h"
#include "io/input.h"
#include "platform/platform.h"
#include "quorvel.h"
#include "support/memory_platform.h"
#include "support/text_reference.h"
#include "support/walked_lines.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace {

const std::string kRecord =
    "3100224130\t01234567\t913101157178123456\t91310000MA1FL4XQ2K\t20261102\t12800.00\t1664.00\t"
    "<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/"
    "45>+96-<<0312*8>9\t"
    "1234567890\t1";
const std::string kEscapedMw = qtest::EscapeAngleBrackets(
    "<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/"
    "45>+96-<<0312*8>9");
const std::string kElementLine = "   <mw>" + kEscapedMw + "</mw>";

// A file of 1 MiB of records in the page cache, walked line by line through
// the reader's window, and counted by its counting pass.
const char* RecordFile() {
  static const char* const path = [] {
    std::string content;
    while (content.size() < (1u << 20)) content += kRecord + "\r\n";
    static std::string name = std::filesystem::temp_directory_path() / "quorvel-bench-records.txt";
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return name.c_str();
  }();
  return path;
}

void LineReading(benchmark::State& state) {
  const char* path = RecordFile();
  std::size_t bytes = 0;
  for (auto _ : state) {
    quorvel::ByteReader reader(path);
    benchmark::DoNotOptimize(qtest::WalkedLines(reader).size());
    bytes = reader.Consumed();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(LineReading);

void LineCounting(benchmark::State& state) {
  const char* path = RecordFile();
  std::size_t bytes = 0;
  for (auto _ : state) {
    quorvel::ByteReader reader(path);
    const quorvel::ContentSize size = quorvel::CountContent(reader);
    benchmark::DoNotOptimize(size.lines);
    bytes = size.bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(LineCounting);

void SplitTabFields(benchmark::State& state) {
  quorvel::FieldList fields;
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::SplitTabFields(kRecord, fields));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRecord.size()));
}
BENCHMARK(SplitTabFields);

void ElementScanOnePass(benchmark::State& state) {
  const quorvel::ElementScanner scanner(quorvel::document::kResultRowElements);
  std::array<std::string_view, 11> values;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scanner.ExtractPresent(kElementLine, values).present);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kElementLine.size()));
}
BENCHMARK(ElementScanOnePass);

void ElementScanTwentyTwoSearches(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string_view name : quorvel::document::kResultRowElements) {
      benchmark::DoNotOptimize(qtest::ExtractElementText(kElementLine, name));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kElementLine.size()));
}
BENCHMARK(ElementScanTwentyTwoSearches);

void ParseInt64ThenFormatHex64(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvel::FormatHex64(quorvel::ParseInt64("9123456789012345678"), 16));
  }
}
BENCHMARK(ParseInt64ThenFormatHex64);

void EscapeMw(benchmark::State& state) {
  const std::string_view mw = std::string_view(kRecord).substr(kRecord.find('<'), 96);
  char out[4 * 96 + quorvel::document::kEscapeSlack];
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvel::document::EscapeAngleBracketsInto(mw, out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mw.size()));
}
BENCHMARK(EscapeMw);

// 1024 different cipher fields, escaped: brackets fall at random, as in real
// documents, so no branch predictor learns one field by heart.
const std::vector<std::string>& EscapedCiphers() {
  static const std::vector<std::string> ciphers = [] {
    std::vector<std::string> out;
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int k = 0; k < 1024; ++k) {
      std::string cipher;
      for (int i = 0; i < 108; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        cipher += "0123456789+-*/<>"[state % 16];
      }
      out.push_back(qtest::EscapeAngleBrackets(cipher));
    }
    return out;
  }();
  return ciphers;
}

void UnescapeMw(benchmark::State& state) {
  const std::vector<std::string>& ciphers = EscapedCiphers();
  char out[256];
  std::size_t k = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const std::string& cipher = ciphers[k++ % ciphers.size()];
    benchmark::DoNotOptimize(quorvel::document::UnescapeAngleBracketsInto(cipher, out));
    benchmark::ClobberMemory();
    bytes += static_cast<std::int64_t>(cipher.size());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(UnescapeMw);

// The two conversions on 8 MB of a generated input held in memory: the
// platform layer reads from memory and writes nowhere, so only the
// conversion's own work is timed. The inputs come from bench/generate, named
// by QUORVEL_BENCH_TEXT and QUORVEL_BENCH_RETURNED (bench/run sets both).
std::string EightMegabytesOf(const char* variable) {
  const char* path = std::getenv(variable);
  if (path == nullptr) return {};
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return {};
  std::string content(8u << 20, '\0');
  content.resize(std::fread(content.data(), 1, content.size(), f));
  std::fclose(f);
  // Whole lines only.
  content.resize(content.rfind('\n') + 1);
  return content;
}

namespace platform = quorvel::platform;
// The one-pass scan of a returned document's lines alone.
void ScanReturnedLines(benchmark::State& state) {
  const std::string content = EightMegabytesOf("QUORVEL_BENCH_RETURNED");
  if (content.empty()) return state.SkipWithError("QUORVEL_BENCH_RETURNED names no document");
  const std::array<std::string_view, 2> markers = {quorvel::document::kRowOpenMarker,
                                                   quorvel::document::kRowCloseMarker};
  const quorvel::ElementScanner scanner(quorvel::document::kResultRowElements, markers);
  std::array<std::string_view, 11> values;
  for (auto _ : state) {
    std::uint32_t seen = 0;
    scanner.ScanLines(content, true, values,
                      [&](std::string_view, const quorvel::ElementScanner::LineFound& found) {
                        seen ^= found.present;
                        return true;
                      });
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(ScanReturnedLines)->Unit(benchmark::kMillisecond);

void Xml2TxtInMemory(benchmark::State& state) {
  const std::string content = EightMegabytesOf("QUORVEL_BENCH_RETURNED");
  if (content.empty()) return state.SkipWithError("QUORVEL_BENCH_RETURNED names no document");
  const platform::Api saved = platform::Current();
  qtest::InstallMemoryPlatform(content, /*keep_written=*/false);
  for (auto _ : state) {
    std::int32_t rows = 0;
    char nsr[256], reserved[256];
    Quorvel_XML2TXT("in", "out", 0, &rows, nsr, reserved);
  }
  platform::Current() = saved;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(Xml2TxtInMemory)->Unit(benchmark::kMillisecond);

void Txt2XmlInMemory(benchmark::State& state) {
  const std::string content = EightMegabytesOf("QUORVEL_BENCH_TEXT");
  if (content.empty()) return state.SkipWithError("QUORVEL_BENCH_TEXT names no text");
  const platform::Api saved = platform::Current();
  qtest::InstallMemoryPlatform(content, /*keep_written=*/false);
  for (auto _ : state) Quorvel_TXT2XML("in", "out", 100, "N", "Q");
  platform::Current() = saved;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(Txt2XmlInMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
