/* SPDX-License-Identifier: MIT */
/*
 * radioline: control a two-way radio over a serial line.
 *
 * Lifecycle: call seropen() once with the device path and baud rate, then any
 * number of operations one after another, then serclose(). Every operation
 * sends one frame FE FE <to> <from> <body> FD to the radio and, for the radio
 * commands, waits for the one reply frame that concerns it: a frame sent by
 * the radio to the controller.
 *
 * Result codes: every call that can fail returns 0 on success or a positive
 * errno value of the platform (EINVAL, ENOSPC, ETIMEDOUT, EPIPE, EBADF, or
 * whatever a failing system call left in errno), so strerror() and perror()
 * name every code. serclose() alone differs: it returns 0, -1, or the
 * negative `serfh` when no device is open. Where the library makes a code up itself it also sets
 * errno to it, unless the function's comment says otherwise. The first
 * failure of a lower layer ends the operation and is returned unchanged;
 * nothing is retried.
 *
 * Addresses: `to` is the radio's bus address, `from` the controller's; both
 * are one byte, 0 to 252 (0xFC). Address 0 is a broadcast: the request is
 * sent but no reply is awaited.
 *
 * Time-out: every byte read waits at most 5 seconds, separately for each
 * byte, so a call returns ETIMEDOUT 5 seconds after the line falls silent.
 *
 * Tracing: set the global `debug` to non-zero and every layer writes a
 * line-by-line account of its work to standard error, each line beginning
 * with the name of the function that writes it, with two exceptions:
 * seropen()'s "tcgetattr returned" and "tcsetattr returned" lines begin with
 * the name of the call they report, and getvcosplitfreq() writes under the
 * name "getvcosplit". With `debug` zero the library writes nothing.
 *
 * Threads: the open descriptor (`serfh`) and `debug` are process-wide, so the
 * operations are not reentrant: call them from one thread at a time.
 *
 * The library allocates no memory and starts nothing in the background.
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

#ifdef __cplusplus
}
#endif

#endif /* RADIOLINE_H */
