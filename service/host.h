// The service host's main loop. The thread that runs it is the array's apartment thread: the
// array and every child were made on it, and every call into them must run on it. Whatever
// serves the array (the remote layer, later) plugs in by watching its descriptors here, so its
// handlers run on this thread too, between waits.
//
// SIGTERM and SIGINT end the loop: they are blocked for the whole process (call BlockStopSignals
// before any thread starts, so every thread inherits the mask) and read through a signalfd.
#pragma once

#include <functional>
#include <vector>

namespace vodrik {

// Blocks SIGTERM and SIGINT for the calling thread (and the threads it starts later). False when
// the mask cannot be set.
bool BlockStopSignals();

class ServiceHost {
 public:
  ServiceHost();
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // False when the signal descriptor could not be made (the loop cannot run).
  bool ok() const { return signal_fd_ >= 0; }

  // Calls `on_ready` on the loop's thread whenever `fd` is readable (or hung up), until Unwatch.
  // The descriptor stays the caller's.
  void Watch(int fd, std::function<void()> on_ready);
  void Unwatch(int fd);

  // Waits and dispatches until a stop signal arrives or Stop is called; returns the number of the
  // signal that ended it, or 0 after Stop. -1 when waiting fails.
  int Run();
  // Ends Run after the current dispatch (callable from a handler).
  void Stop() { stopping_ = true; }

  // The signal descriptor, for another loop to watch instead of Run (the remote layer's); and the
  // number of the stop signal waiting on it, or 0 when none is.
  int signal_fd() const { return signal_fd_; }
  int ReadSignal();

 private:
  struct Watched {
    int fd;
    std::function<void()> on_ready;
  };
  int signal_fd_ = -1;
  bool stopping_ = false;
  std::vector<Watched> watched_;
};

}  // namespace vodrik
