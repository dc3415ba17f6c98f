// SPDX-License-Identifier: MIT
// The serial line: the device and the bytes that cross it. This file owns
// the global `serfh` and the process's default line built on it, opens and
// closes lines (seropen() and serclose() the default one, rl_open() and
// rl_close() a handle's), sets a handle's time-out, and is the only one
// that calls open, close, ioctl, the termios functions, select, read and
// write. Opening puts the device into raw 8-bit mode at the requested
// speed, asks the driver for low latency and discards what was waiting;
// rawcharout() and rawcharin() move one unescaped byte per call, the reader
// waiting at most the line's time-out for it. The frame layer in frame.cpp
// sends and receives through these two. For the command exchange in
// cmd.cpp, discardUntilQuiet() drops what arrives until the line falls
// quiet (timed by the speed the line was opened at). Nothing above this
// file touches a descriptor itself.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <new>

#include "internal.h"

int serfh = radioline::kNoDevice;

namespace radioline {
namespace {

// The line the classic calls run on: its descriptor is serfh.
Line default_line{&serfh};

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

constexpr int kMillisPerSecond = 1000;
constexpr int kMicrosPerMilli = 1000;

// The line counts as quiet once no byte has come for the longer of
// kQuietFloor and kQuietCharacters character times (10 bits each: start,
// eight data bits, stop): a radio answers well within the floor, and below
// 2000 baud ten characters take longer than it. A line that never falls
// quiet is left after kDiscardLimit, so a command is delayed at most that.
constexpr Micros kQuietFloor{50000};
constexpr long kQuietCharacters = 10;
constexpr long kBitsPerCharacter = 10;
constexpr long kMicrosPerSecond = 1000000;
constexpr Micros kDiscardLimit{1000000};

struct BaudRate {
  int bits_per_second;
  speed_t constant;
};

// The line speeds the platform's speed setters know, by number.
// clang-format off
constexpr std::array<BaudRate, 30> kBaudRates{{
    {50, B50},         {75, B75},           {110, B110},
    {134, B134},       {150, B150},         {200, B200},
    {300, B300},       {600, B600},         {1200, B1200},
    {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},
    {460800, B460800}, {500000, B500000},   {576000, B576000},
    {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
}};
// clang-format on

// Sets both speeds; a number without a speed constant fails like a setter.
int setSpeed(termios *settings, int baudrate) {
  for (const BaudRate &rate : kBaudRates) {
    if (rate.bits_per_second != baudrate) continue;
    if (cfsetispeed(settings, rate.constant) != 0) return errno;
    if (cfsetospeed(settings, rate.constant) != 0) return errno;
    return 0;
  }
  return failWith(EINVAL);
}

// Raw 8-bit line: ignore breaks and parity errors, 8N1, receiver on, hang up
// on last close, modem lines and flow control off, no processing either way.
void makeRaw(termios *settings) {
  settings->c_iflag = IGNBRK | IGNPAR;
  settings->c_oflag = 0;
  settings->c_cflag = CS8 | CREAD | HUPCL | CLOCAL;
  settings->c_lflag = 0;
}

// Asks the driver to hand over each byte as it arrives instead of holding
// received bytes for its latency timer (up to 16 ms on USB serial adapters).
// A driver without the request (a pseudo-terminal) refuses it and the line
// works as it is, so a refusal is no failure and errno stays as it was.
void requestLowLatency(int fh) {
#if defined(TIOCGSERIAL) && defined(TIOCSSERIAL) && defined(ASYNC_LOW_LATENCY)
  const int saved = errno;
  serial_struct serial{};
  if (ioctl(fh, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fh, TIOCSSERIAL, &serial);
  }
  errno = saved;
#endif
}

// Drops the bytes waiting on the line unread: a terminal's input queue (a
// descriptor that is no terminal keeps them). errno stays as it was.
void discardWaitingInput(int fh) {
  const int saved = errno;
  tcflush(fh, TCIFLUSH);
  errno = saved;
}

// select() can only watch descriptors below FD_SETSIZE; a negative one means
// no device is open.
bool deviceUsable(const Line &line) {
  return *line.fh >= 0 && *line.fh < FD_SETSIZE;
}

// Waits up to `timeout` for a byte to read on the line: select()'s result,
// 1 when one is ready, 0 when none came, -1 with errno set when it failed.
int waitReadable(const Line &line, timeval timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(*line.fh, &readable);
  return select(*line.fh + 1, &readable, nullptr, nullptr, &timeout);
}

// The line's time-out for one byte, as select() takes it.
timeval byteTimeout(const Line &line) {
  return {static_cast<time_t>(line.timeout_ms / kMillisPerSecond),
          static_cast<suseconds_t>(line.timeout_ms % kMillisPerSecond * kMicrosPerMilli)};
}

// How long the line must stay without a byte to count as quiet.
Micros quietTime(const Line &line) {
  if (line.baudrate <= 0) return kQuietFloor;
  const Micros characters{kQuietCharacters * kBitsPerCharacter * kMicrosPerSecond / line.baudrate};
  return std::max(kQuietFloor, characters);
}

// Whether a byte came within `wait`, ready to be read: false too when the
// line only signals a hang-up or the wait failed, where nothing can be dropped.
bool byteArrivesWithin(const Line &line, Micros wait) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  const timeval timeout{static_cast<time_t>(seconds.count()),
                        static_cast<suseconds_t>((wait - seconds).count())};
  int waiting = 0;
  return waitReadable(line, timeout) == 1 && ioctl(*line.fh, FIONREAD, &waiting) == 0 &&
         waiting > 0;
}

// Closes a handle's descriptor, if it has one, and frees the handle.
void closeHandle(Line *line) {
  if (*line->fh >= 0) close(*line->fh);  // released even when close reports a failure
  delete line;
}

}  // namespace

Line &defaultLine() {
  return default_line;
}

int openDevice(Line &line, const char *devname, int baudrate) {
  int &fh = *line.fh;
  if (fh >= 0) close(fh);  // one device per line: the old one goes first
  trace(line, "seropen: opening device %s\n", devname);
  fh = open(devname, O_RDWR);
  const int open_error = errno;
  trace(line, "seropen: open returned fh %d\n", fh);
  if (fh == -1) {
    tracePerror(line, "seropen", open_error);
    return failWith(open_error);
  }

  termios settings{};
  trace(line, "seropen: getting current serial device attributes\n");
  int rc = tcgetattr(fh, &settings);
  const int get_error = errno;
  trace(line, "tcgetattr returned %d\n", rc);
  if (rc != 0) return failWith(get_error);

  makeRaw(&settings);
  rc = setSpeed(&settings, baudrate);
  if (rc != 0) return rc;

  trace(line, "seropen: setting serial device attributes\n");
  rc = tcsetattr(fh, TCSANOW, &settings);
  const int set_error = errno;
  trace(line, "tcsetattr returned %d\n", rc);
  if (rc == -1) {
    tracePerror(line, "seropen", set_error);
    return failWith(set_error);
  }
  requestLowLatency(fh);
  discardWaitingInput(fh);       // no byte from before the open is read as a reply
  line.reply_abandoned = false;  // whatever was abandoned, it was on another device
  line.baudrate = baudrate;
  return 0;
}

void discardUntilQuiet(Line &line) {
  if (!deviceUsable(line)) return;
  const int saved = errno;
  const Clock::time_point deadline = Clock::now() + kDiscardLimit;
  const Micros quiet = quietTime(line);
  while (tcflush(*line.fh, TCIFLUSH) == 0) {
    const auto left = std::chrono::duration_cast<Micros>(deadline - Clock::now());
    if (left <= Micros::zero() || !byteArrivesWithin(line, std::min(quiet, left))) break;
  }
  errno = saved;
}

int rawcharout(Line &line, unsigned char c) {
  if (!deviceUsable(line)) {
    tracePerror(line, "rawcharout", EBADF);
    return failWith(EBADF);
  }
  trace(line, "rawcharout: writing %02x\n", c);
  const ssize_t written = write(*line.fh, &c, 1);
  const int write_error = errno;
  trace(line, "rawcharout: write returned %d\n", static_cast<int>(written));
  if (written == 1) return 0;
  if (written == 0) return failWith(EIO);  // nothing moved and no errno
  tracePerror(line, "rawcharout", write_error);
  return failWith(write_error);
}

int rawcharin(Line &line, unsigned char *c) {
  if (c == nullptr) return failWith(EINVAL);
  if (!deviceUsable(line)) {
    tracePerror(line, "rawcharin", EBADF);
    return failWith(EBADF);
  }
  trace(line, "rawcharin: calling select\n");
  const int ready = waitReadable(line, byteTimeout(line));
  const int select_error = errno;
  trace(line, "rawcharin: select returned %d\n", ready);
  if (ready == -1) {
    tracePerror(line, "rawcharin", select_error);
    return failWith(select_error);
  }
  if (ready == 0) return failWith(ETIMEDOUT);

  trace(line, "rawcharin: reading a character\n");
  const ssize_t got = read(*line.fh, c, 1);
  const int read_error = errno;
  trace(line, "rawcharin: read returned %d\n", static_cast<int>(got));
  if (got == -1) {
    tracePerror(line, "rawcharin", read_error);
    return failWith(read_error);
  }
  if (got == 0) return failWith(EPIPE);
  return 0;
}

}  // namespace radioline

using namespace radioline;

int seropen(char *devname, int baudrate) {
  return onLine(&defaultLine(), [&](Line &line) { return openDevice(line, devname, baudrate); });
}

int serclose(void) {
  return onLine(&defaultLine(), [](Line &line) {
    if (*line.fh < 0) return *line.fh;
    trace(line, "serclose: closing serial device\n");
    const int rc = close(*line.fh);
    *line.fh = kNoDevice;
    return rc;
  });
}

int rawcharout(unsigned char c) {
  return rl_rawcharout(&defaultLine(), c);
}

int rawcharin(unsigned char *c) {
  return rl_rawcharin(&defaultLine(), c);
}

int rl_open(const char *path, int baud, radioline_line **line) {
  if (line == nullptr) return failWith(EINVAL);
  *line = nullptr;
  if (path == nullptr) return failWith(EINVAL);
  auto *opened = new (std::nothrow) Line;
  if (opened == nullptr) return failWith(ENOMEM);
  const int rc = openDevice(*opened, path, baud);
  if (rc != 0) {
    closeHandle(opened);
    return failWith(rc);
  }
  *line = opened;
  return 0;
}

int rl_close(radioline_line *line) {
  if (line == nullptr) return failWith(EINVAL);
  closeHandle(line);
  return 0;
}

int rl_settimeout(radioline_line *line, int ms) {
  return onLine(line, [ms](Line &held) {
    if (ms <= 0) return failWith(EINVAL);
    held.timeout_ms = ms;
    return 0;
  });
}

int rl_rawcharout(radioline_line *line, unsigned char c) {
  return onLine(line, [c](Line &held) { return rawcharout(held, c); });
}

int rl_rawcharin(radioline_line *line, unsigned char *c) {
  return onLine(line, [c](Line &held) { return rawcharin(held, c); });
}
