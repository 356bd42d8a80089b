// File helpers for tests: a fresh scratch folder per test, whole-file reads
// and writes by byte path (C stdio, so GBK paths pass through as bytes on
// every platform, the same way the library hands them to the system).
#ifndef QUORVEL_TESTS_SUPPORT_FILES_H
#define QUORVEL_TESTS_SUPPORT_FILES_H

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace qtest {

void WriteFile(const std::string& path, std::string_view bytes);
// The whole file, or "<missing>" when it cannot be opened.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void MakeDir(const std::string& path);
// Names in a folder, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);

#ifdef _WIN32
// Runs a Unix command line under Wine (Wine starts Unix programs too), in
// the working folder; its exit status, or -1 where that cannot be done (on
// Windows itself). Makes what only the Unix side can, symbolic links.
int RunUnix(const std::string& command);
#endif

// Lines joined, each followed by CR LF.
std::string CrLfLines(const std::vector<std::string>& lines);

// Today's local date as yyyymmdd, by the C library's clock.
std::string TodayYyyymmdd();

// A test that runs inside its own empty scratch folder (the working folder
// for its duration), so relative paths like "in.txt" are its own.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Names left in the scratch folder: catches stray temporary files.
  std::vector<std::string> Leftovers() const { return ListDir("."); }

 private:
  std::string previous_;
  std::string dir_;
};

}  // namespace qtest

#endif
