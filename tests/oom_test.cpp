// Every allocation made to fail in turn. This program replaces the global
// operator new: once armed with N, the Nth allocation from then on throws
// std::bad_alloc. For every N over a representative conversion of each kind
// the outcome must be ResultOk with the right output, or ResultFailed with
// "Out of memory", an existing output untouched, no allocation left behind,
// and the next call working normally.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "quorvel.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/platform_override.h"

namespace {

std::atomic<long> countdown{0};  // 0: disarmed; otherwise allocations left + 1
std::atomic<long> live{0};       // allocations not yet freed

void* Allocate(std::size_t size) {
  if (countdown.load() > 0 && countdown.fetch_sub(1) == 1) throw std::bad_alloc();
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  live.fetch_add(1);
  return p;
}

void Free(void* p) noexcept {
  if (p == nullptr) return;
  live.fetch_sub(1);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace {

using qtest::LastError;

// Handles the platform layer has opened and not yet closed.
std::atomic<long> open_handles{0};

class OutOfMemoryTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    namespace platform = quorvel::platform;
    platform::Api& api = platform_.api();
    api.local_date = qtest::PinnedDate;
    // Every handle opened is counted, every close uncounts it: a call that
    // fails half-way must still close all it opened.
    api.open_for_read = [](const char* path, platform::Handle* handle, platform::InputInfo* info) {
      const bool opened = platform::Native().open_for_read(path, handle, info);
      if (opened) ++open_handles;
      return opened;
    };
    api.create_temp = [](const char* target, platform::Handle* handle, std::string* temp) {
      const bool opened = platform::Native().create_temp(target, handle, temp);
      if (opened) ++open_handles;
      return opened;
    };
    api.open_spool = [](platform::Handle* handle) {
      const bool opened = platform::Native().open_spool(handle);
      if (opened) ++open_handles;
      return opened;
    };
    api.open_in_place = [](const char* path, platform::Handle* handle) {
      const bool opened = platform::Native().open_in_place(path, handle);
      if (opened) ++open_handles;
      return opened;
    };
    api.close = [](platform::Handle handle) {
      --open_handles;
      return platform::Native().close(handle);
    };
  }

  // Runs `convert` with the Nth allocation failing, for N = 1, 2, ... until a
  // run completes without reaching its failing allocation.
  template <typename Convert>
  void SweepAllocations(Convert&& convert, const std::string& output) {
    qtest::WriteFile(output, "previous");
    ASSERT_EQ(convert(), QUORVEL_RESULT_OK) << LastError();
    const std::string expected = qtest::ReadFile(output);
    int failures = 0;
    for (long n = 1;; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      qtest::WriteFile(output, "previous");
      const long before = live.load();
      countdown.store(n);
      const int32_t result = convert();
      const bool reached = countdown.exchange(0) <= 0;
      EXPECT_EQ(live.load(), before) << "allocations left behind";
      EXPECT_EQ(open_handles.load(), 0) << "handles left open";
      if (result == QUORVEL_RESULT_OK) {
        EXPECT_EQ(LastError(), "");
        EXPECT_TRUE(qtest::ReadFile(output) == expected);
      } else {
        ++failures;
        EXPECT_EQ(LastError(), "Out of memory");
        EXPECT_EQ(qtest::ReadFile(output), "previous");
      }
      EXPECT_EQ(Leftovers().size(), 2u) << "a temporary file was left behind";
      // The next call works normally.
      EXPECT_EQ(convert(), QUORVEL_RESULT_OK);
      EXPECT_TRUE(qtest::ReadFile(output) == expected);
      if (!reached) {
        std::printf("swept %ld allocations, %d of them failing the call\n", n - 1, failures);
        break;
      }
      ASSERT_LT(n, 100000) << "the sweep does not end";
    }
    EXPECT_GT(failures, 0);
  }

  qtest::PlatformOverride platform_;
};

TEST_F(OutOfMemoryTest, TextToDocument) {
  qtest::WriteFile("in.txt",
                   "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10\r\n"
                   "S1\tS2\tS3\tS4\tS5\tS6\tS7\tS8\r\n"
                   "\n"
                   "1\t2\t3\t4\t5\t6\t7\t8\tA9\t10\n");
  SweepAllocations(
      [] { return Quorvel_TXT2XML("in.txt", "out.xml", 100, "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "q"); },
      "out.xml");
}

TEST_F(OutOfMemoryTest, DocumentToText) {
  qtest::WriteFile("in.xml", qtest::ReadFile(std::string(QUORVEL_SOURCE_DIR) + "/samples/returned.xml"));
  SweepAllocations(
      [] {
        int32_t rows = 0;
        char nsr[QUORVEL_BUFFER_SIZE];
        char reserved[QUORVEL_BUFFER_SIZE];
        return Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved);
      },
      "out.txt");
}

// Failure messages need memory of their own; when it cannot be had, the
// host still gets "Out of memory", never a crash.
TEST_F(OutOfMemoryTest, FailureWhoseMessageCannotBeMade) {
  const std::string path(300, 'p');
  for (long n = 1; n <= 3; ++n) {
    countdown.store(n);
    EXPECT_EQ(Quorvel_TXT2XML(path.c_str(), "out.xml", 100, "", ""), QUORVEL_RESULT_FAILED);
    const bool reached = countdown.exchange(0) <= 0;
    EXPECT_EQ(LastError(), reached ? "Out of memory" : "Cannot open file " + path.substr(0, 238));
  }
}

}  // namespace
