/* SPDX-License-Identifier: MIT */
/*
 * radioline: control two-way radios over serial lines.
 *
 * Two APIs run the same code: the same frames, exchange, result codes and
 * trace lines. They differ in where the line lives, how long a byte is
 * waited for and where the trace goes.
 *
 * The classic API keeps one line per process. Call seropen() once with the
 * device path and baud rate, then any number of operations one after
 * another, then serclose(). The descriptor is the global `serfh`, the trace
 * switch the global `debug`, and every byte read waits at most 5 seconds.
 * Both globals are process-wide, so the classic calls are not reentrant:
 * call them from one thread at a time. It suits a program that drives one
 * radio from one thread, and programs written against it before the
 * handles came.
 *
 * The handle API (the rl_ calls at the end of this header) keeps each line
 * in a handle: rl_open() a line per device, then the same operations with
 * the handle first (rl_setvfofreq(line, to, from, freq), ...), then
 * rl_close(). Each handle has its own reply time-out (rl_settimeout()) and
 * trace callback (rl_settrace()). Any number of lines may be open at once,
 * each usable from any thread: the library holds a line's lock for each
 * call on it, a radio command's whole exchange (its request and its reply)
 * included, so two threads sharing a line never take each other's replies,
 * and calls on different lines run in parallel. Use it for several radios,
 * several threads, a trace of your own or a time-out of your own. The two
 * APIs never share a line: a handle's line is not `serfh`, and `debug`
 * does not trace it.
 *
 * Every operation sends one frame FE FE <to> <from> <body> FD to the radio
 * and, for the radio commands, waits for the one reply frame that concerns
 * it: a frame sent by the radio to the controller.
 *
 * Result codes: every call that can fail returns 0 on success or a positive
 * errno value of the platform (EINVAL, ENOSPC, ETIMEDOUT, EPIPE, EBADF, or
 * whatever a failing system call left in errno), so strerror() and perror()
 * name every code. serclose() alone differs: it returns 0, -1, or the
 * negative `serfh` when no device is open. Where the library makes a code up
 * itself it also sets errno to it, unless the function's comment says
 * otherwise. The first failure of a lower layer ends the operation and is
 * returned unchanged; nothing is retried.
 *
 * Addresses: `to` is the radio's bus address, `from` the controller's; both
 * are one byte, 0 to 252 (0xFC). Address 0 is a broadcast: the request is
 * sent but no reply is awaited.
 *
 * Time-out: every byte read waits at most 5 seconds (a handle: its line's
 * time-out), separately for each byte, so a call returns ETIMEDOUT that
 * long after the line falls silent.
 *
 * Tracing: set the global `debug` to non-zero and every classic call writes
 * a line-by-line account of its work to standard error; give a handle a
 * callback with rl_settrace() and it gets the same lines, one call each.
 * Each line begins with the name of the function that writes it, with two
 * exceptions: seropen()'s "tcgetattr returned" and "tcsetattr returned"
 * lines begin with the name of the call they report, and getvcosplitfreq()
 * writes under the name "getvcosplit". With `debug` zero (and no callback)
 * the library writes nothing.
 *
 * The library starts nothing in the background and allocates no memory,
 * but for the handle rl_open() allocates and rl_close() frees.
 */
#ifndef RADIOLINE_H
#define RADIOLINE_H

#if defined(__GNUC__)
#define RADIOLINE_API __attribute__((visibility("default")))
#else
#define RADIOLINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Trace switch: 0 (the initial value) is silent, anything else traces. */
RADIOLINE_API extern int debug;

/* Descriptor of the open serial device: -2 before any seropen() and after
 * serclose(), -1 after a failed open. Read it, do not write it. */
RADIOLINE_API extern int serfh;

/* The numbers a program shares with the library beside its calls: the
 * bus addresses, line speed and reply time-out a program starts from, and
 * the firmware-version request's bytes, for a program that sends it
 * through the frame layer (sendcmd()) as getversion() does. */
enum {
  RADIOLINE_RADIO_ADDRESS = 0x20,      /* a radio's usual bus address */
  RADIOLINE_CONTROLLER_ADDRESS = 0x91, /* a controller's usual bus address */
  RADIOLINE_BAUD = 19200,              /* the radios' usual line speed, bits per second */
  RADIOLINE_TIMEOUT_MS = 5000,         /* the wait for each byte read until rl_settimeout() */
  RADIOLINE_CMD_EXTENDED = 0xAA,       /* command byte: a subcommand byte follows */
  RADIOLINE_SUB_GETVERSION = 0x02      /* subcommand: read the firmware version text */
};

/* ------------------------------------------------------------------------
 * Serial port: the one open device and single raw bytes.
 * ------------------------------------------------------------------------ */

/* Opens `devname` read-write (blocking), closing first the device an earlier
 * seropen() left open, and sets it to raw 8-bit mode:
 * ignore breaks and parity errors, no output processing, 8N1 with the
 * receiver on, hang-up on last close, modem lines ignored, no flow control,
 * non-canonical input without echo or signals; input and output speed
 * `baudrate` in bits per second (any rate the platform has a speed constant
 * for, 50 to 4000000 on Linux). Then it asks the driver for low-latency
 * mode, where the driver offers it (USB serial adapters otherwise hold
 * received bytes up to 16 ms; a pseudo-terminal has no such mode and the
 * open carries on), and discards every byte already waiting on the device,
 * so that nothing sent before the open is read as a reply. The descriptor is
 * stored in `serfh` whatever happens; a failure after the open leaves it
 * open there (the next seropen() or serclose() closes it).
 * Returns 0, or:
 *   the open call's errno (ENOENT, EACCES, ...), `serfh` then -1;
 *   ENOTTY or another errno when the device's settings cannot be read;
 *   EINVAL (errno set) when `baudrate` has no speed constant;
 *   the errno of tcsetattr when the settings cannot be applied.
 * Blocks while the open call does (a serial port waiting for carrier). */
RADIOLINE_API int seropen(char *devname, int baudrate);

/* Closes the device opened by seropen() and sets `serfh` back to -2.
 * Returns 0, or:
 *   -1 with errno set when close fails;
 *   the negative `serfh` itself, closing nothing, when no device is open:
 *   -2 before any seropen() and after an earlier serclose(), -1 after a
 *   failed open. */
RADIOLINE_API int serclose(void);

/* Writes the one byte `c` to the device as it is (nothing is escaped).
 * Returns 0, or:
 *   EBADF (errno set) when no device is open (`serfh` negative, or 1024 and
 *   above, where select() cannot watch it); nothing is written;
 *   the errno of the write when it did not write the byte (EIO once the
 *   line has hung up).
 * Blocks until the write returns. */
RADIOLINE_API int rawcharout(unsigned char c);

/* Waits up to 5 seconds for one byte and stores it in `*c`.
 * Returns 0, or:
 *   EINVAL (errno set) when `c` is NULL; nothing is read;
 *   ETIMEDOUT (errno set) when no byte came within 5 seconds; `*c` as it was;
 *   EPIPE (errno set) at end of file: the device went away or the line hung
 *   up;
 *   EBADF (errno set) when no device is open (`serfh` negative, or 1024 and
 *   above, where select() cannot watch it); nothing is read;
 *   EINTR (a signal arrived) or another errno when select fails; nothing is
 *   read;
 *   the errno of the read when it fails.
 * Blocks for at most 5 seconds. */
RADIOLINE_API int rawcharin(unsigned char *c);

/* ------------------------------------------------------------------------
 * Frames: body-byte escaping, sending and receiving one frame.
 * ------------------------------------------------------------------------ */

/* Sends one body byte: FD, FE and FF go out as the pairs FF 0D, FF 0E and
 * FF 0F, every other byte as itself.
 * Returns 0, or the code of the first failing rawcharout(). */
RADIOLINE_API int charout(unsigned char c);

/* Receives one body byte into `*c`, turning a pair FF x into x | F0.
 * Returns 0, or EINVAL (errno set, nothing read) when `c` is NULL, or the
 * code of the failing rawcharin(). Blocks for at most 5 seconds per raw
 * byte. */
RADIOLINE_API int charin(unsigned char *c);

/* Sends the frame FE FE <to> <from> <cmd[0..cmdlen-1] escaped> FD. Only the
 * low byte of each address is sent; a negative address passes the check.
 * `cmd` may be NULL when `cmdlen` is 0 or less, which sends an empty body.
 * Returns 0, or:
 *   EINVAL (errno set) when `to` or `from` is above 252, or `cmd` is NULL
 *   and `cmdlen` above 0; nothing is sent;
 *   the code of the first failing write; the frame is then left half-sent.
 */
RADIOLINE_API int sendcmd(int to, int from, unsigned char *cmd, int cmdlen);

/* Receives the next frame on the line: discards bytes up to the first FE,
 * requires a second FE, stores the destination and source addresses in
 * `*to` and `*from` as soon as they arrive, then stores unescaped body bytes
 * at `resp` until the raw end byte FD or until `bufsize` bytes are stored
 * (the rest of an over-long frame stays on the line for the next call's
 * hunt to discard). An escaped FD is a body byte and does not end the frame.
 * `*resplen` gets the body length, on success only; a `bufsize` of 0 or less
 * reads no body byte.
 * Returns 0, or:
 *   EINVAL (errno set, nothing read) when any of the four pointers is NULL;
 *   EINVAL (errno left untouched) when the byte after the first FE is not
 *   FE; that byte is consumed and the frame abandoned;
 *   the code of the failing rawcharin()/charin(): ETIMEDOUT after 5 seconds
 *   of silence, EPIPE, EBADF, a read error.
 * Blocks for at most 5 seconds per byte; a line that keeps delivering bytes
 * without a start byte keeps it reading. */
RADIOLINE_API int rcvresp(int *to, int *from, unsigned char *resp, int bufsize, int *resplen);

/* ------------------------------------------------------------------------
 * Value encoding: packed BCD, two decimal digits per byte, high digit in the
 * high nibble. A field of `buflen` bytes holds 2 * buflen digits: leading
 * positions are zero and more significant digits than fit are dropped. A
 * negative value is encoded as the digits of its magnitude (LONG_MIN too).
 * A `buflen` of 0 or less writes nothing.
 * ------------------------------------------------------------------------ */

/* Reverses a[0 .. buflen-1] in place; 0 or 1 bytes, or a NULL `a`, are left
 * as they are. */
RADIOLINE_API void bufrev(unsigned char *a, int buflen);

/* Writes `value` into outbuf[0 .. buflen-1] as big-endian BCD (most
 * significant byte first): tobcd(123, buf, 2) gives 01 23. */
RADIOLINE_API void tobcd(long value, unsigned char *outbuf, int buflen);

/* Writes `value` into outbuf[0 .. buflen-1] as little-endian BCD (least
 * significant byte first): tobcdrev(123, buf, 2) gives 23 01. */
RADIOLINE_API void tobcdrev(long value, unsigned char *outbuf, int buflen);

/* ------------------------------------------------------------------------
 * Radio commands. Each sends one request from `from` to `to` and takes as
 * its reply the first frame sent by `to` to `from`; every other frame is
 * skipped: its own echo, frames between other stations, the radio's frames
 * to other controllers and other stations' frames to the controller.
 * Setters accept a reply whose first byte is the status FB; readers accept
 * AA followed by their subcommand with the top bit set, and copy data to the
 * caller only on success.
 * Late replies: after a command that failed waiting for its reply (a
 * time-out, a broken frame start, a read error) or rejected the frame it
 * took for its reply (EINVAL from the reply: a refusal, another form,
 * command or subcommand, too short), the next command first discards what
 * arrives on the line until no byte has come for the longer of 50 ms and 10
 * character times at the line's speed (at most 1 second in all), and only
 * then sends its request; after an accepted reply it sends at once. So the
 * failed command's late answer, and its own answer behind a stray one, do
 * not answer the next request when they come within that quiet time. An
 * answer later still, after the next request has gone out, cannot be told
 * from that request's answer: the frames carry no sequence number. Such a
 * stray answer is found at the latest by the next command whose reply
 * carries data of another command than the stray one (a reader repeated
 * takes its predecessor's answer, of the same form): that command fails
 * with EINVAL, and the line is clean after it. Two status answers (FB)
 * cannot be told apart, so a setter may take a late acceptance for its own.
 * A broadcast awaits no reply and leaves nothing to discard.
 * Common result codes, besides those each command lists:
 *   EINVAL (errno set): the radio refused (status other than FB), the reply
 *     is of the wrong command or subcommand, or too short to decode;
 *     an address is above 252 (nothing sent);
 *   ETIMEDOUT, EPIPE, EBADF or a read/write errno from the line;
 *   EINVAL (errno untouched) from a frame with a broken start.
 * With address 0 (broadcast) a setter returns 0 once the request is sent and
 * a reader returns EINVAL (errno set) without touching the caller's storage;
 * no reply is read. Argument checks come before anything is sent, and a
 * reader writes to the caller's storage only when it returns 0.
 * Each waits at most 5 seconds for any one byte, after the discard above
 * when there is one; frames of other stations that keep arriving keep it
 * waiting.
 * ------------------------------------------------------------------------ */

/* Tunes the VFO: sends 05 and `freq` (Hz, at most ten digits; more are cut
 * from the top) as 5-byte little-endian BCD.
 * Returns 0, or EINVAL (errno set, nothing sent) when `freq` is negative. */
RADIOLINE_API int setvfofreq(int to, int from, long freq);

/* Selects mode slot `mode` (0 to 99; more digits are cut from the top):
 * sends 08 and `mode` as one BCD byte.
 * Returns 0, or EINVAL (errno set, nothing sent) when `mode` is negative. */
RADIOLINE_API int setmode(int to, int from, long mode);

/* Stores the VFO's settings into the current mode slot: sends 09. */
RADIOLINE_API int storevfotomode(int to, int from);

/* Recalls the current mode slot into the VFO: sends 0A. */
RADIOLINE_API int storemodetovfo(int to, int from);

/* Sets the duplex code: sends 0F and the low byte of `duplex` unchanged. */
RADIOLINE_API int setduplex(int to, int from, long duplex);

/* Sets the transmit tone (`txrx` 0) or the receive tone (any other `txrx`):
 * sends 1B, the low byte of `txrx`, and `pl` (tenths of a hertz, at most
 * four digits, more are cut from the top: 885 is 88.5 Hz) as 2-byte
 * big-endian BCD.
 * Returns 0, or EINVAL (errno set, nothing sent) when `pl` is negative. */
RADIOLINE_API int setpl(int to, int from, long pl, int txrx);

/* Reads the 16-byte VFO codeplug (sends AA 00, reply AA 80 and 16 bytes)
 * into retbuf[0 .. 15], without a terminator; `buflen` is retbuf's size.
 * Returns 0, or:
 *   ENOSPC (errno untouched, nothing sent) when `buflen` is below 16;
 *   EINVAL (errno set, nothing sent) when `retbuf` is NULL. */
RADIOLINE_API int getvfocodeplug(int to, int from, unsigned char *retbuf, int buflen);

/* Writes the VFO codeplug: `plug` is text of 16 hexadecimal numbers (an
 * optional 0x prefix each) separated by white space; text after the 16th is
 * ignored and each number is cut to its low byte. Sends AA 01 and the 16
 * bytes.
 * Returns 0, or EINVAL (errno set, nothing sent) when `plug` is NULL or
 * holds fewer than 16 numbers. */
RADIOLINE_API int setvfocodeplug(int to, int from, char *plug);

/* Reads the firmware version text (sends AA 02, reply AA 82 and the text up
 * to its first zero byte, at most 253 bytes) into retbuf as a field of
 * `buflen` bytes: a shorter text is padded with zero bytes, a longer one is
 * cut to `buflen` bytes without a terminator.
 * Returns 0, or EINVAL (errno set, nothing sent) when `retbuf` is NULL or
 * `buflen` is negative. */
RADIOLINE_API int getversion(int to, int from, unsigned char *retbuf, int buflen);

/* Reads the two configuration bytes (sends AA 03, reply AA 83 d0 d1) into
 * retbuf[0] and retbuf[1]; `buflen` is retbuf's size.
 * Returns 0, or:
 *   ENOSPC (errno set, nothing sent) when `buflen` is below 2;
 *   EINVAL (errno set, nothing sent) when `retbuf` is NULL. */
RADIOLINE_API int getconfig(int to, int from, unsigned char *retbuf, int buflen);

/* Writes the two configuration bytes: sends AA 04 data0 data1. */
RADIOLINE_API int setconfig(int to, int from, unsigned char data0, unsigned char data1);

/* Reads the transmit offset (sends AA 05, reply AA 85 and a signed 32-bit
 * little-endian integer) into `*offset`.
 * Returns 0, or EINVAL (errno set, nothing sent) when `offset` is NULL. */
RADIOLINE_API int gettxoffset(int to, int from, long *offset);

/* Writes the transmit offset: sends AA 06 and `offset` as a 32-bit
 * little-endian two's-complement integer (its low 32 bits). */
RADIOLINE_API int settxoffset(int to, int from, long offset);

/* Reads the VCO split pair (sends AA 07, reply AA 87, the receive split and
 * then the transmit split, each a signed 32-bit little-endian integer).
 * Returns 0, or EINVAL (errno set, nothing sent) when either pointer is
 * NULL. */
RADIOLINE_API int getvcosplitfreq(int to, int from, long *txsplit, long *rxsplit);

/* Writes the VCO split pair: sends AA 08, `rxvcosplit` and then
 * `txvcosplit`, each as a 32-bit little-endian two's-complement integer. */
RADIOLINE_API int setvcosplit(int to, int from, long txvcosplit, long rxvcosplit);

/* ------------------------------------------------------------------------
 * Line handles: any number of lines, each usable from any thread.
 *
 * A radioline_line is one open serial line with its own descriptor, reply
 * time-out (5000 ms until rl_settimeout()) and trace callback (none until
 * rl_settrace()). Every call below takes it first. A call holds the line's
 * lock from its start to its return: a radio command for its whole
 * exchange (the discard of an abandoned reply, its request and its reply),
 * a frame or byte call for that frame or byte. So threads may share a line
 * and each gets its own command's reply; calls on different lines do not
 * wait for each other. Two calls of the frame layer (rl_sendcmd(), then
 * rl_rcvresp()) are two calls: another thread's call may come between
 * them; use a radio command, or one thread, where that matters.
 * A line must not be used after rl_close(), nor closed while a call on it
 * is running.
 * ------------------------------------------------------------------------ */

/* An open line; only the library sees inside it. */
typedef struct radioline_line radioline_line;

/* Receives one trace line of a handle's line: `text` is the line without
 * its newline, valid only during the call; `context` is what
 * rl_settrace() was given. It runs on the thread that made the call, while
 * that call holds the line's lock: it must not call radioline on the same
 * line (that call would wait for itself forever), and the line waits for
 * it, so it should be quick. A line longer than 1023 bytes (only a long
 * codeplug text given to rl_setvfocodeplug() makes one) comes cut to its
 * first 1023 bytes. A failed system call's line reads "name: system text",
 * as perror() writes it. */
typedef void (*radioline_trace_fn)(void *context, const char *text);

/* Opens `path` as seropen() opens a device (read-write, blocking, raw 8-bit
 * mode at `baud` bits per second, low latency where the driver offers it,
 * waiting input discarded) on a line of its own, and stores the new line in
 * `*line`. `serfh`, `debug` and the default line are untouched; the open
 * itself writes no trace (the line has no callback yet). The handle is
 * allocated here and freed by rl_close().
 * Returns 0, or, with `*line` set to NULL and nothing left open:
 *   EINVAL (errno set) when `path` or `line` is NULL (`line` then untouched);
 *   ENOMEM (errno set) when the handle cannot be allocated;
 *   what seropen() returns for a device it cannot open or set up (the
 *   open call's errno, ENOTTY, EINVAL for a `baud` without a speed
 *   constant, ...), with errno set to it.
 * Blocks while the open call does (a serial port waiting for carrier). */
RADIOLINE_API int rl_open(const char *path, int baud, radioline_line **line);

/* Closes the line's device and frees the handle: `line` is gone.
 * Returns 0, or EINVAL (errno set) when `line` is NULL. A failure the
 * system reports while closing is not passed on: the descriptor is
 * released all the same, and nothing could be done about it. */
RADIOLINE_API int rl_close(radioline_line *line);

/* Sets how long each byte read on `line` waits, in milliseconds (5000 until
 * it is set); a call then fails with ETIMEDOUT that long after the line
 * falls silent. Waits for a call running on the line to end.
 * Returns 0, or EINVAL (errno set, nothing changed) when `line` is NULL or
 * `ms` is 0 or negative. */
RADIOLINE_API int rl_settimeout(radioline_line *line, int ms);

/* Sends the line's trace to `fn`, one call per line with `context` (see
 * radioline_trace_fn); NULL `fn` switches the trace off. `debug` has no
 * say over a handle's trace. Waits for a call running on the line to end.
 * Returns 0, or EINVAL (errno set, nothing changed) when `line` is NULL. */
RADIOLINE_API int rl_settrace(radioline_line *line, radioline_trace_fn fn, void *context);

/* Each call below is its classic namesake on `line`: the same bytes, result
 * codes and errno rules and trace lines, documented at the classic
 * declaration above, with three differences: a byte read waits the line's
 * time-out instead of 5 seconds, the trace goes to the line's callback, and
 * a NULL `line` is refused with EINVAL (errno set) before anything is sent
 * or read or stored. A handle's device is open until rl_close(), so EBADF
 * comes only from a descriptor of 1024 or above, which select() cannot
 * watch (a process with that many files open). */

/* rawcharout() on `line`: writes the one byte `c` as it is. */
RADIOLINE_API int rl_rawcharout(radioline_line *line, unsigned char c);

/* rawcharin() on `line`: waits up to the line's time-out for one byte. */
RADIOLINE_API int rl_rawcharin(radioline_line *line, unsigned char *c);

/* charout() on `line`: sends one body byte, escaped when it must be. */
RADIOLINE_API int rl_charout(radioline_line *line, unsigned char c);

/* charin() on `line`: receives one body byte, unescaped. */
RADIOLINE_API int rl_charin(radioline_line *line, unsigned char *c);

/* sendcmd() on `line`: sends the frame FE FE <to> <from> <cmd> FD. */
RADIOLINE_API int rl_sendcmd(radioline_line *line, int to, int from, unsigned char *cmd,
                             int cmdlen);

/* rcvresp() on `line`: receives the next frame on the line. */
RADIOLINE_API int rl_rcvresp(radioline_line *line, int *to, int *from, unsigned char *resp,
                             int bufsize, int *resplen);

/* setvfofreq() on `line`: tunes the VFO. */
RADIOLINE_API int rl_setvfofreq(radioline_line *line, int to, int from, long freq);

/* setmode() on `line`: selects a mode slot. */
RADIOLINE_API int rl_setmode(radioline_line *line, int to, int from, long mode);

/* storevfotomode() on `line`: stores the VFO into the current mode slot. */
RADIOLINE_API int rl_storevfotomode(radioline_line *line, int to, int from);

/* storemodetovfo() on `line`: recalls the current mode slot into the VFO. */
RADIOLINE_API int rl_storemodetovfo(radioline_line *line, int to, int from);

/* setduplex() on `line`: sets the duplex code. */
RADIOLINE_API int rl_setduplex(radioline_line *line, int to, int from, long duplex);

/* setpl() on `line`: sets the transmit or the receive PL tone. */
RADIOLINE_API int rl_setpl(radioline_line *line, int to, int from, long pl, int txrx);

/* getvfocodeplug() on `line`: reads the 16-byte VFO codeplug. */
RADIOLINE_API int rl_getvfocodeplug(radioline_line *line, int to, int from, unsigned char *retbuf,
                                    int buflen);

/* setvfocodeplug() on `line`: writes the VFO codeplug given as text. */
RADIOLINE_API int rl_setvfocodeplug(radioline_line *line, int to, int from, char *plug);

/* getversion() on `line`: reads the firmware version text. */
RADIOLINE_API int rl_getversion(radioline_line *line, int to, int from, unsigned char *retbuf,
                                int buflen);

/* getconfig() on `line`: reads the two configuration bytes. */
RADIOLINE_API int rl_getconfig(radioline_line *line, int to, int from, unsigned char *retbuf,
                               int buflen);

/* setconfig() on `line`: writes the two configuration bytes. */
RADIOLINE_API int rl_setconfig(radioline_line *line, int to, int from, unsigned char data0,
                               unsigned char data1);

/* gettxoffset() on `line`: reads the transmit offset. */
RADIOLINE_API int rl_gettxoffset(radioline_line *line, int to, int from, long *offset);

/* settxoffset() on `line`: writes the transmit offset. */
RADIOLINE_API int rl_settxoffset(radioline_line *line, int to, int from, long offset);

/* getvcosplitfreq() on `line`: reads the VCO split pair. */
RADIOLINE_API int rl_getvcosplitfreq(radioline_line *line, int to, int from, long *txsplit,
                                     long *rxsplit);

/* setvcosplit() on `line`: writes the VCO split pair. */
RADIOLINE_API int rl_setvcosplit(radioline_line *line, int to, int from, long txvcosplit,
                                 long rxvcosplit);

#ifdef __cplusplus
}
#endif

#endif /* RADIOLINE_H */
