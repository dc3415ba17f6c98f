// SPDX-License-Identifier: MIT
// The test kit's pseudo-terminal side: the radio's end of the line.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kit.h"
#include "radioline.h"

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
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "writing to the pseudo-terminal: " << strerror(errno);
    done += static_cast<size_t>(n);
  }
}

Bytes PtyRadio::take() {
  Bytes got;
  pollfd ready{master_, POLLIN, 0};
  while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)) {
    unsigned char chunk[256];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

Bytes PtyRadio::await(std::size_t count) {
  Bytes got;
  pollfd ready{master_, POLLIN, 0};
  while (got.size() < count && poll(&ready, 1, 10000) == 1) {
    unsigned char c = 0;
    if (read(master_, &c, 1) != 1) break;
    got.push_back(c);
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
        if (got != request) return;
        std::this_thread::sleep_for(delay);
        radio.send(reply);
      }) {}

void LineTest::SetUp() {
  std::string path = radio_.slavePath();
  ASSERT_EQ(seropen(path.data(), 19200), 0);
}

void LineTest::TearDown() {
  serclose();
  debug = 0;
}

FinishedLine::FinishedLine(const Bytes &bytes) {
  int ends[2];
  if (pipe(ends) != 0) {
    ADD_FAILURE() << "no pipe: " << strerror(errno);
    return;
  }
  read_end_ = ends[0];
  // A pipe holds far more than any scripted frame, so this never blocks.
  const ssize_t n = bytes.empty() ? 0 : write(ends[1], bytes.data(), bytes.size());
  EXPECT_EQ(n, static_cast<ssize_t>(bytes.size())) << "filling the pipe";
  close(ends[1]);
}

FinishedLine::~FinishedLine() {
  if (read_end_ >= 0) close(read_end_);
}

std::string rawcharoutTrace(unsigned char c) {
  char line[64];
  std::snprintf(line, sizeof line, "rawcharout: writing %02x\n", c);
  return std::string(line) + "rawcharout: write returned 1\n";
}

std::string rawcharinTrace() {
  return "rawcharin: calling select\n"
         "rawcharin: select returned 1\n"
         "rawcharin: reading a character\n"
         "rawcharin: read returned 1\n";
}
