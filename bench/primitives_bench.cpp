// Google Benchmark figures for the hot primitives, on realistic lines.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "document/layout.h"
#include "io/input.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace {

const std::string kRecord =
    "3100224130\t01234567\t913101157178123456\t91310000MA1FL4XQ2K\t20261102\t12800.00\t1664.00\t"
    "<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9\t"
    "1234567890\t1";
const std::string kEscapedMw = quorvel::EscapeAngleBrackets(
    "<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9+<1/+59>>8*0<0381*/45>+96-<<0312*8>9");
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
    quorvel::LineReader reader(path);
    std::string_view line;
    std::size_t lines = 0;
    while (reader.Next(line)) ++lines;
    benchmark::DoNotOptimize(lines);
    bytes = reader.Passed().bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(LineReading);

void LineCounting(benchmark::State& state) {
  const char* path = RecordFile();
  std::size_t bytes = 0;
  for (auto _ : state) {
    quorvel::LineReader reader(path);
    const quorvel::ContentSize size = reader.CountRest();
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
      benchmark::DoNotOptimize(quorvel::ExtractElementText(kElementLine, name));
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
  char out[4 * 96];
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::EscapeAngleBracketsInto(mw, out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mw.size()));
}
BENCHMARK(EscapeMw);

void UnescapeMw(benchmark::State& state) {
  char out[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvel::UnescapeAngleBracketsInto(kEscapedMw, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEscapedMw.size()));
}
BENCHMARK(UnescapeMw);

}  // namespace

BENCHMARK_MAIN();
