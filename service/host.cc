#include "service/host.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>

namespace vodrik {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

bool BlockStopSignals() {
  const sigset_t set = StopSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

ServiceHost::ServiceHost() {
  const sigset_t set = StopSignals();
  signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC);
}

ServiceHost::~ServiceHost() {
  if (signal_fd_ >= 0) close(signal_fd_);
}

void ServiceHost::Watch(int fd, std::function<void()> on_ready) { watched_.push_back({fd, std::move(on_ready)}); }

void ServiceHost::Unwatch(int fd) {
  std::erase_if(watched_, [fd](const Watched& w) { return w.fd == fd; });
}

int ServiceHost::ReadSignal() {
  signalfd_siginfo info{};
  if (read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
  return 0;
}

int ServiceHost::Run() {
  if (signal_fd_ < 0) return -1;
  stopping_ = false;
  while (!stopping_) {
    std::vector<pollfd> fds{{signal_fd_, POLLIN, 0}};
    for (const Watched& w : watched_) fds.push_back({w.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[0].revents & POLLIN) {
      if (const int signal = ReadSignal()) return signal;
    }
    // Handlers may watch or unwatch: dispatch from a copy of the ready set.
    std::vector<std::function<void()>> ready;
    for (size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ready.push_back(watched_[i - 1].on_ready);
    for (auto& handler : ready) {
      handler();
      if (stopping_) break;
    }
  }
  return 0;
}

}  // namespace vodrik
