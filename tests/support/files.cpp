#include "files.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define chdir _chdir
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

namespace qtest {

void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) {
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fclose(f);
}

std::string ReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string out;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

void MakeDir(const std::string& path) { std::filesystem::create_directory(path); }

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

#ifdef _WIN32
// Wine gives no handle to a Unix process, so the shell leaves its status in a
// file, which is waited for and removed.
int RunUnix(const std::string& command) {
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) return -1;
  std::string line =
      "/bin/sh -c \"(" + command + "); echo $? > .status.tmp && mv .status.tmp .status\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA("/bin/sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  for (int wait = 0; wait < 1000 && !FileExists(".status"); ++wait) Sleep(10);
  const std::string status = ReadFile(".status");
  DeleteFileA(".status");
  return status == "<missing>" ? -1 : std::atoi(status.c_str());
}
#endif

std::string CrLfLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::string TodayYyyymmdd() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d", local->tm_year + 1900, local->tm_mon + 1,
                local->tm_mday);
  return text;
}

void ScratchDirTest::SetUp() {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  previous_ = cwd;
  std::random_device seed;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = base / ("quorvel-test-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate)) {
      dir_ = candidate.string();
      break;
    }
  }
  ASSERT_FALSE(dir_.empty());
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void ScratchDirTest::TearDown() {
  ASSERT_EQ(chdir(previous_.c_str()), 0);
  std::error_code ignored;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace qtest
