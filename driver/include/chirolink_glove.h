/*
 * Chirolink glove API: any number of gloves per process, every frame with its
 * sequence number and time, the link's state and counters, and a reason for
 * every failed open.
 *
 * The calls of chirolink.h (GloveInit, GloveGetDataPtr, GloveGetData) serve
 * one glove per process through the latest 8 bytes; this header serves
 * everything beyond that, from the same library. Both can be used in one
 * program: chirolink_process_glove() is a handle on the link behind GloveInit.
 *
 * A typical reader:
 *
 *     chirolink_glove* glove = NULL;
 *     int32_t result = chirolink_open("COM1", &glove);
 *     if (result != CHIROLINK_OK) {
 *         fprintf(stderr, "COM1: %s\n", chirolink_error_text(result));
 *         return 1;
 *     }
 *     chirolink_frame frame;
 *     while (chirolink_next_frame(glove, &frame, 1000) == CHIROLINK_OK) {
 *         printf("%llu %.6f %u\n", (unsigned long long)frame.sequence,
 *                frame.monotonic_s, frame.values[0]);
 *     }
 *     chirolink_close(glove);
 *
 * Threads: calls on different handles may run on any threads at once, and so
 * may calls on one handle, except chirolink_close: it must not run while
 * another thread is inside a call on the same handle (a blocked
 * chirolink_next_frame included), and the handle is not used after it.
 *
 * Processes: a child made by fork() inherits no link. Its handles and the
 * process glove stop receiving frames (their last values stay, frozen); a
 * child that wants the glove calls chirolink_open or GloveInit itself, once
 * the parent has let go of the port. Python's multiprocessing forks by
 * default on Linux.
 *
 * No call throws, prints or aborts; failures are results (CHIROLINK_ERR_*),
 * bad arguments give CHIROLINK_ERR_ARG.
 */
#ifndef CHIROLINK_GLOVE_H
#define CHIROLINK_GLOVE_H

#include <stdint.h>

#include "chirolink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One glove on one serial port, with the library's thread polling it. */
typedef struct chirolink_glove chirolink_glove;

/* One frame as the glove sent it, stamped when it arrived. */
typedef struct chirolink_frame {
    uint8_t values[7];   /* Finger 1..5, Roll, Pitch: raw 0..255 */
    uint8_t checksum;    /* as received */
    uint64_t sequence;   /* 1 for the link's first frame, then +1 per frame received */
    double monotonic_s;  /* when its last byte was read: CLOCK_MONOTONIC (Linux),
                            QueryPerformanceCounter (Windows), in seconds */
    double wall_s;       /* the same moment in seconds since 1970-01-01 UTC */
    int32_t checksum_ok; /* 1 when the checksum matches the values, else 0 */
    int32_t reserved;    /* 0 */
} chirolink_frame;

/* What a link is doing and what it has counted since it was opened. */
typedef struct chirolink_status {
    int32_t state;           /* CHIROLINK_STATE_* */
    int32_t reserved;        /* 0 */
    uint64_t frames;         /* frames received, whatever their checksum */
    uint64_t bad_checksums;  /* of those, frames whose checksum did not match */
    uint64_t lost_replies;   /* requests that got no whole frame in time */
    uint64_t reopens;        /* times the port went away, was opened again and answered */
    uint64_t missed;         /* frames this handle's queue dropped: its reader fell behind */
    double last_frame_age_s; /* seconds since the latest frame; negative before the first */
} chirolink_status;

/* Results. Every call that can fail returns CHIROLINK_OK or one of these. */
enum {
    CHIROLINK_OK = 0,
    CHIROLINK_ERR_ARG = -1,        /* a null pointer, an empty or overlong port name */
    CHIROLINK_ERR_MISSING = -2,    /* no such device (or a serial node with no UART behind it) */
    CHIROLINK_ERR_NOT_SERIAL = -3, /* the name is something other than a serial port */
    CHIROLINK_ERR_BUSY = -4,       /* another link, in this process or another, holds the port */
    CHIROLINK_ERR_DENIED = -5,     /* this user may not open the port (Linux: group dialout) */
    CHIROLINK_ERR_NO_GLOVE = -6,   /* the port opened, but no glove answered the hellos */
    CHIROLINK_ERR_TIMEOUT = -7,    /* no frame came in time, or none has come yet */
    CHIROLINK_ERR_SYSTEM = -8      /* the system refused something else (a thread, memory) */
};

/* Link states, in chirolink_status.state. */
enum {
    CHIROLINK_STATE_RUNNING = 1,   /* the port is open and the glove is polled */
    CHIROLINK_STATE_REOPENING = 2, /* the port went away; the link tries to open it again */
    CHIROLINK_STATE_STOPPED = 3    /* no link runs (the process glove before GloveInit) */
};

/*
 * Opens the glove on `port` and starts its thread: the same port names,
 * checks and handshake as GloveInit ("COM1", ..., or a device path; up to
 * three hellos, about 1.2 s when no glove answers; the settings the port had
 * are put back when it fails). A port is held by one link at a time: a port
 * already held, in this process or another, gives CHIROLINK_ERR_BUSY.
 *
 * On success `*glove` is a new handle, to be given to chirolink_close; its
 * frame queue receives every frame from the first one on. On failure
 * `*glove` is set to NULL and the result says why.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_open(const char* port, chirolink_glove** glove);

/*
 * Stops the glove's thread, closes its port and frees the handle. NULL is
 * accepted and does nothing, and so does the process glove (stop that with
 * GloveInit(NULL)). See the threads rule above.
 */
CHIROLINK_API void CHIROLINK_CALL chirolink_close(chirolink_glove* glove);

/*
 * Takes the oldest frame that this handle has not taken yet: every frame, in
 * order. Waits up to `timeout_ms` for one (0: does not wait; negative: waits
 * until one comes). CHIROLINK_ERR_TIMEOUT when none came.
 *
 * Each handle keeps the latest 4096 frames (about 20 s at the full rate) that
 * its reader has not taken; when the reader falls further behind, the oldest
 * are dropped, chirolink_status.missed counts them and the sequence numbers
 * show the gap. The link never waits for a reader.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_next_frame(chirolink_glove* glove,
                                                          chirolink_frame* frame,
                                                          int32_t timeout_ms);

/*
 * The newest frame, whole (never two frames mixed), without taking anything
 * from the queue. CHIROLINK_ERR_TIMEOUT before the first frame.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_latest_frame(chirolink_glove* glove,
                                                            chirolink_frame* frame);

/*
 * The link's state and counters. A glove that goes away (a USB adapter pulled
 * out) shows CHIROLINK_STATE_REOPENING until it answers again; a hand held
 * still shows RUNNING with a small last_frame_age_s.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_get_status(chirolink_glove* glove,
                                                          chirolink_status* status);

/*
 * A text for a result, for people: "ok", "no such device", ... Never NULL;
 * static storage.
 */
CHIROLINK_API const char* CHIROLINK_CALL chirolink_error_text(int32_t result);

/* The library's package version, such as "1.1.0". Static storage. */
CHIROLINK_API const char* CHIROLINK_CALL chirolink_version(void);

/*
 * A handle on the link that GloveInit, GloveGetDataPtr and GloveGetData use,
 * valid for as long as the library is loaded and the same across repeated
 * GloveInit calls: it sees the frames of whatever port GloveInit opened last
 * (sequence numbers start again at 1 with each successful GloveInit). Each
 * successful GloveInit empties its queue and zeroes its counters, missed
 * included; the queue then receives that link's every frame from the first
 * on, so that a reader that calls it after GloveInit still gets the first
 * frame, and never one of an earlier link.
 * chirolink_close on it does nothing.
 *
 * Note for the three calls: right after a successful GloveInit, the sample
 * buffer holds the handshake's answer (85 in byte 0) until the first frame
 * lands, a few milliseconds later. A program that must not see it waits for
 * the first frame: chirolink_next_frame(chirolink_process_glove(), &f, 1000).
 */
CHIROLINK_API chirolink_glove* CHIROLINK_CALL chirolink_process_glove(void);

/*
 * Which port is the glove on?
 *
 * chirolink_list_ports lists the machine's serial ports without opening any;
 * chirolink_probe says hello on one port and lets go of it. A finder tries
 * the ports of the list, each on a thread of its own so that all of them take
 * about as long as one:
 *
 *     chirolink_port_info ports[64];
 *     int32_t count = 0;
 *     if (chirolink_list_ports(ports, 64, &count) == CHIROLINK_OK) {
 *         for (int32_t i = 0; i < count && i < 64; ++i) {
 *             printf("%s  %s\n", ports[i].name, ports[i].description);
 *         }
 *     }
 */

/* Sizes of the text fields of chirolink_port_info, the terminating zero included. */
#define CHIROLINK_PORT_NAME_SIZE 256
#define CHIROLINK_PORT_TEXT_SIZE 256
#define CHIROLINK_PORT_SERIAL_SIZE 128

/*
 * One serial port of the machine. Every text is zero-terminated UTF-8 and
 * empty ("") when the system does not say; texts too long for their field
 * are cut at a character's boundary, except `name`: a port whose name does not
 * fit is left out of the list.
 *
 * The struct has a fixed size and no pointers (904 bytes, 4-aligned), so that
 * a caller can hand in an array of it: ctypes.Structure with c_char arrays in
 * Python, a [StructLayout(LayoutKind.Sequential)] struct with
 * [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ...)] strings in C#.
 */
typedef struct chirolink_port_info {
    /* What to open: "/dev/ttyUSB0", "COM7". */
    char name[CHIROLINK_PORT_NAME_SIZE];
    /* Linux: the /dev/serial/by-id/... link that udev made for the port, the
       same across replugs; "" where there is none, and on Windows. */
    char stable_name[CHIROLINK_PORT_NAME_SIZE];
    /* For people: the USB product and maker ("FT232R USB UART (FTDI)"), the
       kind of UART ("16550A UART"), Windows' friendly name. */
    char description[CHIROLINK_PORT_TEXT_SIZE];
    /* The USB serial number, or "". */
    char serial_number[CHIROLINK_PORT_SERIAL_SIZE];
    /* 0x0000..0xFFFF for a port on USB, -1 for any other. */
    int32_t usb_vendor_id;
    int32_t usb_product_id;
} chirolink_port_info;

/*
 * Lists the machine's serial ports, sorted by name ("COM2" before "COM10",
 * "/dev/ttyS2" before "/dev/ttyS10"), without opening any of them: nothing is
 * sent anywhere.
 *
 * Writes up to `capacity` entries into `ports` and the number of ports the
 * machine has into `*count`; when `*count` is above `capacity`, only the first
 * `capacity` were written and a larger array gets them all. `ports` may be
 * NULL when `capacity` is 0 (to ask for the count alone). A machine without
 * serial ports gives CHIROLINK_OK with *count 0.
 *
 * Linux: the ttys in sysfs that have a device behind them: USB adapters
 * (ttyUSB, ttyACM) with their vendor, product, serial number and udev's
 * by-id name, and UARTs (ttyS, ttyAMA, ...). The legacy ttyS nodes that have
 * no UART behind them (ttyS1 to ttyS31 on most PCs, which chirolink_open
 * reports as CHIROLINK_ERR_MISSING) are left out. Windows: the devices of the
 * Ports class with their friendly names and USB ids, and every other port in
 * HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
 *
 * Results: CHIROLINK_OK; CHIROLINK_ERR_ARG when `count` is NULL, `capacity`
 * is negative, or `ports` is NULL with a capacity above 0; CHIROLINK_ERR_SYSTEM
 * when the system's list could not be read.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_list_ports(chirolink_port_info* ports,
                                                          int32_t capacity, int32_t* count);

/*
 * Is a glove on `port`? Opens it as chirolink_open does, says hello up to
 * three times (about 1.2 s when no glove answers; the hello byte 0x41 is
 * sent each time), puts back the settings the port had and closes it. No
 * link is started: the port is free again when the call returns.
 *
 * CHIROLINK_OK when a glove answered, else the results of chirolink_open:
 * CHIROLINK_ERR_NO_GLOVE, CHIROLINK_ERR_BUSY (held by a link or another
 * program), CHIROLINK_ERR_DENIED, CHIROLINK_ERR_MISSING, ... Any number of
 * calls on different ports may run at once, one per thread.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_probe(const char* port);

#ifdef __cplusplus
}
#endif

#endif /* CHIROLINK_GLOVE_H */
