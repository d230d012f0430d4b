/*
 * Chirolink: reads a data glove on a serial port.
 *
 * The glove reports seven raw sensor bytes (five fingers, roll and pitch).
 * GloveInit opens the port, checks that a glove answers and starts one
 * background thread that polls the glove without pause; the latest frame is
 * kept in an 8-byte sample buffer that callers read at any time, without
 * waiting and without calling into the glove.
 *
 * Sample buffer layout (the glove's frame):
 *   0..4  Finger 1 to Finger 5   raw, unsigned, 0..255
 *   5     Roll                   raw, unsigned, 0..255
 *   6     Pitch                  raw, unsigned, 0..255
 *   7     Checksum               exclusive-or of bytes 0..6
 *
 * No call throws, prints or allocates on behalf of the caller; failures are
 * reported by a 0 result.
 */
#ifndef CHIROLINK_H
#define CHIROLINK_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(CHIROLINK_BUILDING)
#define CHIROLINK_API __declspec(dllexport)
#else
#define CHIROLINK_API __declspec(dllimport)
#endif
#define CHIROLINK_CALL __cdecl
#else
#define CHIROLINK_API __attribute__((visibility("default")))
#define CHIROLINK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens the serial port `port`, sets 19200 baud 8N1 raw with DTR and RTS on,
 * checks with up to three hello exchanges that a glove answers, and starts
 * the acquisition thread.
 *
 * `port` is "COM1", "COM2", ... (any letter case; "COMn" stands for
 * /dev/ttyS<n-1> on Linux and is opened as "\\.\COMn" on Windows, so that
 * COM10 and above work) or a device path used as given, such as
 * "/dev/ttyUSB0". The port is opened exclusively: a second opener, in this
 * process or another, fails. Anything that is not a serial port (a file,
 * NUL, a console) is closed at once without a byte written, and fails.
 *
 * A new open starts with an empty receive queue: bytes that were waiting in
 * the port from an earlier user are discarded, once, before the first hello.
 *
 * Returns 1 when the link is up and the thread runs, 0 otherwise: a missing,
 * busy or non-terminal port fails at once; a port where no glove answers
 * fails after about 1.2 s and gets back the settings it had (the three hello
 * bytes have been sent). A call after a success stops the running link first:
 * the exchange under way may finish, for at most about 0.4 s, then the thread
 * is stopped and the port closed; the call then starts afresh on `port`.
 * Calls are serialised. NULL or "" gives 0 (and stops a running link).
 *
 * If the port fails outright later (an adapter pulled out), the thread closes
 * it and keeps the last frame; callers go on reading it. While the device is
 * away the thread tries to open the same name about every 250 ms and writes
 * nothing. Whatever holds the name when an open succeeds gets one hello: a
 * glove that answers is polled again at once (fresh frames within about a
 * second of its return); anything else gets its settings back, is closed at
 * once and is left alone for 2 s before the next try.
 *
 * A frame with a wrong checksum writes the line "Chirolink: Glove checksum
 * error\n" to the platform's debug channel: syslog at LOG_DEBUG on Linux,
 * OutputDebugStringA on Windows.
 *
 * Right after a successful call, byte 0 of the sample buffer holds the
 * handshake's answer (85) and the other bytes what they held before (zero at
 * first), until the first frame lands 5 to 10 ms later. A program that must
 * not see that waits for the first frame (chirolink_glove.h):
 *     chirolink_frame first;
 *     chirolink_next_frame(chirolink_process_glove(), &first, 1000);
 *
 * A child made by fork() inherits no link: its buffer keeps the values of the
 * moment of the fork, frozen. A child that wants the glove calls GloveInit
 * itself, once the parent has let go of the port.
 *
 * Unloading: on Windows the acquisition thread holds a reference of its own
 * to Chirolink.dll, so the library stays loaded while a link runs, even after
 * the program's FreeLibrary, and a pointer kept from before still works: a
 * later GloveInit (e.g. GloveInit(NULL)) stops the link. Once a call has
 * stopped a running link, the library stays loaded until the process ends,
 * since that call must return through it. On Linux, unloading stops the
 * thread.
 *
 * Exit: on Linux, a call made while the process exits does nothing and gives
 * 0: a call from an exit handler (atexit) that the program registered before
 * its first GloveInit, and any call once those handlers run. A handler
 * registered after the first GloveInit runs earlier, while the library still
 * takes calls; whatever it starts, the process's end stops. On Windows the
 * library learns of the exit only when the system ends its threads: a call
 * from an exit handler may still start a link, which ends with the process.
 */
CHIROLINK_API int32_t CHIROLINK_CALL GloveInit(const char* port);

/*
 * Returns the address of the 8-byte sample buffer (see above). The address is
 * the same on every call, valid while the library is loaded, also before
 * GloveInit; the buffer is all zero until the first data arrives.
 *
 * Callers only read through it. The buffer is 8-byte aligned and every frame
 * is published with one 64-bit store, so a reader that copies all 8 bytes
 * with one atomic 64-bit load never sees two frames mixed.
 */
CHIROLINK_API unsigned char* CHIROLINK_CALL GloveGetDataPtr(void);

/*
 * Returns sensor value `index` (0..6) from the sample buffer, or 0 for any
 * other index (the checksum at position 7 is read through the pointer only).
 * Never blocks; no lock, no system call.
 */
CHIROLINK_API unsigned char CHIROLINK_CALL GloveGetData(int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* CHIROLINK_H */
