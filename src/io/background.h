// One job at a time on a second thread, so that a conversion's writing
// overlaps with its own work.
//
// The thread is started by the first job and ended when the object goes; a
// job started before the previous one was waited for is a caller's error.
// Where no thread can be started, a job runs at once on the caller's thread:
// the result is the same, only later. Nothing a job does may raise. The
// thread starts with every signal blocked, so that no signal meant for the
// host is handled on it.
#ifndef QUORVEL_IO_BACKGROUND_H
#define QUORVEL_IO_BACKGROUND_H

#include <thread>

#include "common/entry.h"
#include "platform/monitor.h"

namespace quorvel {

class Background {
 public:
  using Job = void (*)(void* context);

  Background() = default;
  // Waits for a job under way, then ends the thread.
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Runs job(context) on the thread.
  void Start(Job job, void* context);
  // Returns once the job started last (if any) has finished; everything it
  // wrote is then visible to the caller.
  void Wait();
  // A job has been started and not yet waited for.
  bool busy() const { return started_; }
  // No job started is still running: Wait would return at once.
  bool Idle();

 private:
  // The thread's whole life; the stack it starts on is the system's.
  QUORVEL_REALIGNS_STACK void Loop();

  // Guards what is marked so; notified when a job or the end is due, and
  // when the job has finished.
  platform::Monitor monitor_;
  Job job_ = nullptr;
  void* context_ = nullptr;
  bool pending_ = false;    // guarded: a job waits to run or runs
  bool quit_ = false;       // guarded
  bool started_ = false;    // caller's side: Start without Wait yet
  bool no_thread_ = false;  // the thread could not be started
  std::thread thread_;
};

}  // namespace quorvel

#endif  // QUORVEL_IO_BACKGROUND_H
