#include "io/background.h"

#include <new>
#include <system_error>
#include <utility>

#include "platform/platform.h"

namespace quorvel {

Background::~Background() {
  Wait();
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void Background::Start(Job job, void* context) {
  if (!thread_.joinable() && !no_thread_) {
    try {
      // The thread starts with every signal blocked: a signal meant for the
      // host is never handled on the library's own thread.
      platform::Current().with_signals_blocked(
          [](void* self) {
            auto* background = static_cast<Background*>(self);
            background->thread_ = std::thread([background] { background->Loop(); });
          },
          this);
    } catch (const std::system_error&) {
      // No thread to be had (the process's limit, a host that forbids
      // them): the job is done here instead, which changes nothing but the
      // time it takes.
      no_thread_ = true;
    } catch (const std::bad_alloc&) {
      // No memory for the thread's start-up: the same.
      no_thread_ = true;
    }
  }
  started_ = true;
  if (no_thread_) {
    job(context);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    pending_ = true;
  }
  wake_.notify_one();
}

void Background::Wait() {
  if (!started_) return;
  started_ = false;
  if (no_thread_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return !pending_; });
}

void Background::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || quit_; });
    if (pending_) {
      const Job job = job_;
      void* const context = context_;
      lock.unlock();
      job(context);
      lock.lock();
      pending_ = false;
      done_.notify_one();
    } else {
      return;
    }
  }
}

}  // namespace quorvel
