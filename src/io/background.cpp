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
    platform::MonitorLock lock(monitor_);
    quit_ = true;
    monitor_.NotifyAll();
  }
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
  platform::MonitorLock lock(monitor_);
  job_ = job;
  context_ = context;
  pending_ = true;
  monitor_.NotifyAll();
}

void Background::Wait() {
  if (!started_) return;
  started_ = false;
  if (no_thread_) return;
  platform::MonitorLock lock(monitor_);
  while (pending_) monitor_.Wait();
}

bool Background::Idle() {
  if (!started_ || no_thread_) return true;
  platform::MonitorLock lock(monitor_);
  return !pending_;
}

void Background::Loop() {
  platform::MonitorLock lock(monitor_);
  for (;;) {
    while (!pending_ && !quit_) monitor_.Wait();
    if (!pending_) return;
    const Job job = job_;
    void* const context = context_;
    monitor_.Unlock();
    job(context);
    monitor_.Lock();
    pending_ = false;
    monitor_.NotifyAll();
  }
}

}  // namespace quorvel
