// Every allocation, and every platform call that opens, reads, writes,
// renames or flushes, made to fail in turn. This program replaces the global
// operator new: once armed with N, the Nth allocation from then on throws
// std::bad_alloc. For every N over a representative conversion of each kind,
// into an existing output and a new one, the outcome must be ResultOk with
// the output written whole, or ResultFailed ("Out of memory" for memory)
// with the output exactly as it was (still missing where it was), no
// temporary file, handle or allocation left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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

// Once armed with N, the Nth call from then on that opens, reads, writes,
// renames or flushes fails (0: disarmed).
std::atomic<long> io_countdown{0};

bool IoFails() { return io_countdown.load() > 0 && io_countdown.fetch_sub(1) == 1; }

namespace platform = quorvel::platform;

// A call that opens a handle: fails when its turn has come, else counts the
// handle it opened.
platform::Error Opened(platform::Error error) {
  if (error == 0) ++open_handles;
  return error;
}

// Routes every platform call the sweeps fail through IoFails, and counts
// every handle: a call that fails half-way must still close all it opened.
void CountAndFailCalls(platform::Api& api) {
  api.open_for_read = [](const char* path, platform::Handle* handle, platform::InputInfo* info) {
    return IoFails() ? EACCES : Opened(platform::Native().open_for_read(path, handle, info));
  };
  api.open_path = [](const char* path, platform::Handle* handle) {
    return IoFails() ? EACCES : Opened(platform::Native().open_path(path, handle));
  };
  api.create_temp = [](const char* prefix, bool owner_only, const platform::TempNaming* naming,
                       platform::Handle* handle, std::string* name) {
    return IoFails()
               ? EACCES
               : Opened(platform::Native().create_temp(prefix, owner_only, naming, handle, name));
  };
  api.open_spool = [](platform::Handle* handle) {
    return IoFails() ? ENOSPC : Opened(platform::Native().open_spool(handle));
  };
  api.open_in_place = [](const char* path, const platform::FileInfo* expected,
                         platform::Handle* handle) {
    return IoFails() ? EACCES : Opened(platform::Native().open_in_place(path, expected, handle));
  };
  api.close = [](platform::Handle handle) {
    --open_handles;
    return platform::Native().close(handle);
  };
  api.read = [](platform::Handle handle, char* buffer, std::size_t size) {
    return IoFails() ? -std::ptrdiff_t{EIO} : platform::Native().read(handle, buffer, size);
  };
  api.rewind = [](platform::Handle handle) {
    return IoFails() ? EIO : platform::Native().rewind(handle);
  };
  api.write = [](platform::Handle handle, const char* bytes, std::size_t size) {
    return IoFails() ? -std::ptrdiff_t{ENOSPC} : platform::Native().write(handle, bytes, size);
  };
  api.replace = [](const char* temp, const char* target, bool* stranded) {
    *stranded = false;
    return IoFails() ? EACCES : platform::Native().replace(temp, target, stranded);
  };
  api.flush = [](platform::Handle handle) {
    return IoFails() ? EIO : platform::Native().flush(handle);
  };
  api.sync_folder = [](const char* folder) {
    return IoFails() ? EIO : platform::Native().sync_folder(folder);
  };
}

// What is made to fail in turn.
enum class Fault { kAllocation, kIo };

class OutOfMemoryTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    platform_.api().local_date = qtest::PinnedDate;
    CountAndFailCalls(platform_.api());
    // A folder whose path is too long to be kept without memory of its own.
    qtest::MakeDir(kFolder);
    // The last-error slot keeps the room a long message took: taken now, it
    // is not counted as an allocation left behind by a failed call.
    const std::string missing(300, 'p');
    Quorvel_TXT2XML(missing.c_str(), "out.xml", 100, "", "");
  }

  static constexpr const char* kFolder = "a-folder-whose-name-needs-memory";

  // Runs `convert` with the Nth allocation (or platform call) failing, for
  // N = 1, 2, ... until a run completes without reaching its failing one,
  // over an existing output or none. A failed call leaves the output
  // exactly as it was; a call that succeeded has written it whole; neither
  // leaves a temporary file, a handle or an allocation behind.
  template <typename Convert>
  void Sweep(Fault fault, bool existing, Convert&& convert) {
    SCOPED_TRACE(std::string(fault == Fault::kAllocation ? "allocations" : "platform calls") +
                 (existing ? " over an existing output" : " into a new output"));
    const std::string output = std::string(kFolder) + "/out";
    const auto reset = [&] {
      std::remove(output.c_str());
      if (existing) qtest::WriteFile(output, "previous");
    };
    reset();
    ASSERT_EQ(convert(output.c_str()), QUORVEL_RESULT_OK) << LastError();
    const std::string expected = qtest::ReadFile(output);
    const std::string before = existing ? "previous" : qtest::ReadFile("<none>");
    std::atomic<long>& countdown_used = fault == Fault::kAllocation ? countdown : io_countdown;
    int failures = 0;
    for (long n = 1;; ++n) {
      SCOPED_TRACE("failing the " + std::to_string(n) + "th");
      reset();
      const long allocated = live.load();
      countdown_used.store(n);
      const int32_t result = convert(output.c_str());
      const bool reached = countdown_used.exchange(0) <= 0;
      EXPECT_EQ(live.load(), allocated) << "allocations left behind";
      EXPECT_EQ(open_handles.load(), 0) << "handles left open";
      if (result == QUORVEL_RESULT_OK) {
        EXPECT_EQ(LastError(), "");
        EXPECT_TRUE(qtest::ReadFile(output) == expected);
      } else {
        ++failures;
        if (fault == Fault::kAllocation) {
          EXPECT_EQ(LastError(), "Out of memory");
        }
        EXPECT_TRUE(qtest::ReadFile(output) == before) << LastError();
      }
      EXPECT_EQ(qtest::ListDir(kFolder).size(), qtest::FileExists(output) ? 1u : 0u)
          << "a temporary file was left behind";
      // The next call works normally.
      EXPECT_EQ(convert(output.c_str()), QUORVEL_RESULT_OK);
      EXPECT_TRUE(qtest::ReadFile(output) == expected);
      if (!reached) {
        std::printf("swept %ld, %d of them failing the call\n", n - 1, failures);
        break;
      }
      ASSERT_LT(n, 100000) << "the sweep does not end";
    }
    EXPECT_GT(failures, 0);
  }

  template <typename Convert>
  void SweepAll(Convert&& convert) {
    for (const Fault fault : {Fault::kAllocation, Fault::kIo}) {
      for (const bool existing : {true, false}) Sweep(fault, existing, convert);
    }
  }

  qtest::PlatformOverride platform_;
};

TEST_F(OutOfMemoryTest, TextToDocument) {
  qtest::WriteFile("in.txt",
                   "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10\r\n"
                   "S1\tS2\tS3\tS4\tS5\tS6\tS7\tS8\r\n"
                   "\n"
                   "1\t2\t3\t4\t5\t6\t7\t8\tA9\t10\n");
  SweepAll([](const char* output) {
    return Quorvel_TXT2XML("in.txt", output, 100, "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "q");
  });
}

TEST_F(OutOfMemoryTest, DocumentToText) {
  qtest::WriteFile("in.xml", qtest::ReadFile(std::string(QUORVEL_SOURCE_DIR) + "/samples/returned.xml"));
  SweepAll([](const char* output) {
    int32_t rows = 0;
    char nsr[QUORVEL_BUFFER_SIZE];
    char reserved[QUORVEL_BUFFER_SIZE];
    return Quorvel_XML2TXT("in.xml", output, 0, &rows, nsr, reserved);
  });
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
