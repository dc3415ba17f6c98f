// SPDX-License-Identifier: MIT
// Pseudo-terminal, symlink and signal-aware waiting for the radio's line.
#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace radiosim {
namespace {

volatile std::sig_atomic_t stop_flag = 0;
sigset_t wait_mask;  // the signal mask in force while waiting

void onStopSignal(int) {
  stop_flag = 1;
}

std::string failure(const std::string &what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

bool installStopHandlers(std::string &error) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  if (sigprocmask(SIG_BLOCK, &stops, &wait_mask) != 0 || sigaction(SIGINT, &action, nullptr) != 0 ||
      sigaction(SIGTERM, &action, nullptr) != 0) {
    error = failure("cannot handle stop signals");
    return false;
  }
  sigdelset(&wait_mask, SIGINT);
  sigdelset(&wait_mask, SIGTERM);
  return true;
}

bool stopRequested() {
  return stop_flag != 0;
}

Wait waitFor(int fd, short events, std::chrono::nanoseconds timeout, short &revents) {
  pollfd entry{fd, events, 0};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec limit{static_cast<std::time_t>(seconds.count()),
                       static_cast<long>((timeout - seconds).count())};
  revents = 0;
  if (stopRequested()) {
    return Wait::kStopped;  // asked during an earlier wait
  }
  const int ready = ppoll(&entry, 1, timeout < timeout.zero() ? nullptr : &limit, &wait_mask);
  revents = entry.revents;
  if (ready < 0) {
    if (errno != EINTR) {
      return Wait::kFailed;
    }
    return stopRequested() ? Wait::kStopped : Wait::kTimedOut;
  }
  return ready == 0 ? Wait::kTimedOut : Wait::kReady;
}

Wait pauseUntil(Clock::time_point when) {
  short revents = 0;
  const auto left = std::max(when - Clock::now(), Clock::duration::zero());
  return waitFor(-1, 0, left, revents);
}

PseudoTerminal::~PseudoTerminal() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool PseudoTerminal::open(std::string &error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  termios mode{};
  if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 || tcgetattr(fd_, &mode) != 0) {
    error = failure("cannot open a pseudo-terminal");
    return false;
  }
  cfmakeraw(&mode);
  const char *name = ptsname(fd_);
  if (tcsetattr(fd_, TCSANOW, &mode) != 0 || fcntl(fd_, F_SETFL, O_NONBLOCK) != 0 ||
      name == nullptr) {
    error = failure("cannot set up the pseudo-terminal");
    return false;
  }
  slave_path_ = name;
  return true;
}

bool PseudoTerminal::writeAll(const Bytes &bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n >= 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (errno != EAGAIN) {
      return false;
    }
    short revents = 0;
    const Wait wait = waitFor(fd_, POLLOUT, kForever, revents);
    if (wait == Wait::kStopped || (revents & POLLHUP) != 0) {
      errno = wait == Wait::kStopped ? EINTR : EIO;
      return false;
    }
    if (wait == Wait::kFailed) {
      return false;
    }
  }
  return true;
}

SlaveLink::~SlaveLink() {
  if (!path_.empty()) {
    ::unlink(path_.c_str());
  }
}

bool SlaveLink::create(const std::string &path, const std::string &target, std::string &error) {
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
    ::unlink(path.c_str());
  }
  if (::symlink(target.c_str(), path.c_str()) != 0) {
    error = failure("cannot link " + path);
    return false;
  }
  path_ = path;
  return true;
}

}  // namespace radiosim
