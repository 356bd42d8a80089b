// Soak: many alternating calls (successes and every kind of failure) in one
// process, through the loaded library as a host makes them. Every result must
// be the same each time round and the process's memory must stay flat.
// QUORVEL_SOAK_CALLS sets the number of calls (default: a short soak).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/files.h"
#include "support/library.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>

#include <cstdio>
#endif

namespace {

// The memory the process holds: its committed private memory on Windows,
// its resident set elsewhere.
std::size_t ProcessMemory() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PagefileUsage;
#else
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f != nullptr) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

long SoakCalls() {
  const char* text = std::getenv("QUORVEL_SOAK_CALLS");
  return text != nullptr ? std::atol(text) : 6000;
}

class SoakTest : public qtest::ScratchDirTest {};

TEST_F(SoakTest, ResultsStableAndMemoryFlat) {
  qtest::Library lib;
  ASSERT_TRUE(lib.loaded());
  const std::string row = "1\t2\t3\t4\t5\t6\t7\t<8>\t";
  qtest::WriteFile("good.txt", row + "255\t10\n" + row + "A1\t10\n");
  qtest::WriteFile("bad.txt", row + "255\t10\n" + row + "x1\t10\n");
  qtest::WriteFile("returned.xml", qtest::ReadFile(std::string(QUORVEL_SOURCE_DIR) + "/samples/returned.xml"));
  qtest::WriteFile("incomplete.xml", "<nsr>N</nsr>\n<rows>1</rows>\n<data>\n<row>\n<dm>1</dm>\n</row>\n");
  qtest::WriteFile("short.xml", "<nsr>N</nsr>\n<rows>3</rows>\n<data>\n<row>\n</row>\n");

  struct Outcome {
    int32_t result;
    std::string message;
  };
  auto call = [&](long i) -> Outcome {
    int32_t rows = 0;
    char nsr[QUORVEL_BUFFER_SIZE];
    char reserved[QUORVEL_BUFFER_SIZE];
    int32_t result = 0;
    switch (i % 7) {
      case 0: result = lib.txt2xml("good.txt", "out.xml", 100, "N", "Q"); break;
      case 1: result = lib.txt2xml("missing.txt", "out.xml", 100, "N", "Q"); break;
      case 2: result = lib.txt2xml("bad.txt", "out.xml", 102, "N", "Q"); break;
      case 3: result = lib.xml2txt("returned.xml", "out.txt", 0, &rows, nsr, reserved); break;
      case 4: result = lib.xml2txt("incomplete.xml", "out.txt", 0, &rows, nsr, reserved); break;
      case 5: result = lib.xml2txt("returned.xml", "nodir/out.txt", 0, &rows, nsr, reserved); break;
      default: result = lib.xml2txt("short.xml", "out.txt", 0, &rows, nsr, reserved); break;
    }
    return {result, lib.LastError()};
  };
  const Outcome expected[7] = {
      {1, ""},
      {-1, "Cannot open file missing.txt"},
      {-1, "'x1' is not a valid integer value"},
      {1, ""},
      {-1, ""},
      {-1, "Cannot create file nodir/out.txt"},
      {-1, "List index out of bounds (5)"},
  };
  const long calls = SoakCalls();
  const long warm = calls / 10;
  std::size_t memory_after_warmup = 0;
  for (long i = 0; i < calls; ++i) {
    const Outcome got = call(i);
    if (got.result != expected[i % 7].result || got.message != expected[i % 7].message) {
      FAIL() << "call " << i << ": " << got.result << " [" << got.message << "]";
    }
    if (i == warm) memory_after_warmup = ProcessMemory();
  }
  const std::size_t memory_at_end = ProcessMemory();
  ASSERT_GT(memory_after_warmup, 0u) << "the process's memory cannot be read";
  std::printf("%ld calls; memory after warm-up %zu KiB, at the end %zu KiB\n", calls,
              memory_after_warmup / 1024, memory_at_end / 1024);
  EXPECT_LE(memory_at_end, memory_after_warmup + 512 * 1024) << "memory grows with calls";
  EXPECT_EQ(Leftovers().size(), 7u);  // the inputs and the two outputs, no temporary file
}

}  // namespace
