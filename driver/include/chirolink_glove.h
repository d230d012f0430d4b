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

#ifdef __cplusplus
}
#endif

#endif /* CHIROLINK_GLOVE_H */
