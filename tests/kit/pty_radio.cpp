// SPDX-License-Identifier: MIT
// The test kit's pseudo-terminal side: the radio's end of the line.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kit.h"

PtyRadio::PtyRadio() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
    return;
  }
  slave_path_ = ptsname(master_);
  termios raw{};
  tcgetattr(master_, &raw);
  cfmakeraw(&raw);
  tcsetattr(master_, TCSANOW, &raw);
}

void PtyRadio::send(const Bytes &bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "writing to the pseudo-terminal: " << strerror(errno);
    done += static_cast<size_t>(n);
  }
}

// Reads no more than is still wanted, so what follows stays for the next call.
Bytes PtyRadio::await(std::size_t count, int timeout_ms) {
  Bytes got;
  pollfd ready{master_, POLLIN, 0};
  unsigned char chunk[256];
  while (got.size() < count && poll(&ready, 1, timeout_ms) == 1) {
    const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

void PtyRadio::hangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

RadioAnswer::RadioAnswer(PtyRadio &radio, const Bytes &request, const Bytes &reply,
                         std::chrono::milliseconds delay)
    : thread_([&radio, request, reply, delay] {
        const Bytes got = radio.await(request.size());
        EXPECT_EQ(got, request) << "the radio's answer waits for this request";
        std::this_thread::sleep_for(delay);
        radio.send(reply);
      }) {}
