// A spinner with the elapsed seconds on standard error while a long call blocks the calling
// thread. Drawn by a thread of its own, which touches no object: COM objects are called only on
// the thread that made them. Draws nothing unless standard error is a terminal.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace vodrikctl {

class Spinner {
 public:
  explicit Spinner(std::string label);
  // Stops the drawing and clears its line.
  ~Spinner();
  Spinner(const Spinner&) = delete;
  Spinner& operator=(const Spinner&) = delete;

 private:
  void Draw();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable stop_signal_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vodrikctl
