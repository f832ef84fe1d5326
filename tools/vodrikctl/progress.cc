#include "tools/vodrikctl/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace vodrikctl {

Spinner::Spinner(std::string label) : label_(std::move(label)) {
  if (isatty(STDERR_FILENO)) thread_ = std::thread([this] { Draw(); });
}

Spinner::~Spinner() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stop_signal_.notify_one();
  thread_.join();
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
}

void Spinner::Draw() {
  static constexpr char kFrames[] = {'|', '/', '-', '\\'};
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  for (unsigned frame = 0; !stop_; ++frame) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "\r%c %s %llds", kFrames[frame % 4], label_.c_str(), static_cast<long long>(seconds));
    std::fflush(stderr);
    stop_signal_.wait_for(lock, std::chrono::milliseconds(125), [this] { return stop_; });
  }
}

}  // namespace vodrikctl
