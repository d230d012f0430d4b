/* The glove API from a plain C program, as a user writes one: two gloves at once, every frame
 * in order with its time, a glove that goes and comes back, the reasons for failed opens, the
 * process glove. Built for Linux and for both Windows targets (run under Wine).
 *
 * Usage: glove_api_check STEADY UNPLUGGING MISSING
 *   STEADY      a glove sending 10,20,30,40,50,60,70
 *   UNPLUGGING  a glove sending 11,22,33,44,55,66,77 that goes away once this program has
 *               read 150 frames of each glove (about 1.1 s after it starts, longer on a busy
 *               machine or under Wine), within 10 s of that, and comes back about 1 s later
 *   MISSING     a port name with nothing behind it
 * Exits 0 when every check held; prints each check that failed. */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "chirolink_glove.h"

#if defined(_WIN32)
#include <windows.h>
static void pause_ms(int ms) {
    Sleep((DWORD)ms);
}
/* Wine's version when running under Wine, else NULL. */
static const char* wine_version(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC get = ntdll != NULL ? GetProcAddress(ntdll, "wine_get_version") : NULL;
    return get != NULL ? ((const char* (*)(void))(void (*)(void))get)() : NULL;
}
#else
#include <unistd.h>
static void pause_ms(int ms) {
    usleep((useconds_t)ms * 1000u);
}
static const char* wine_version(void) {
    return NULL;
}
#endif

static int passed;
static int failed;

static void check(int holds, const char* what) {
    if (holds) {
        ++passed;
    } else {
        ++failed;
        printf("FAIL: %s\n", what);
    }
}

static const uint8_t kSteady[7] = {10, 20, 30, 40, 50, 60, 70};
static const uint8_t kUnplugging[7] = {11, 22, 33, 44, 55, 66, 77};

/* Takes `count` frames and checks that they come in order, stamped and whole. */
static void every_frame_in_order(chirolink_glove* glove, const uint8_t* values, int count,
                                 const char* name) {
    chirolink_frame frame;
    uint64_t previous = 0;
    double previous_time = 0;
    int in_order = 1, stamped = 1, whole = 1, received = 0;
    const double now = (double)time(NULL);
    for (int i = 0; i < count; ++i) {
        if (chirolink_next_frame(glove, &frame, 2000) != CHIROLINK_OK) {
            break;
        }
        ++received;
        in_order &= previous == 0 || frame.sequence == previous + 1;
        stamped &= frame.monotonic_s >= previous_time && frame.wall_s > now - 60 &&
                   frame.wall_s < now + 60;
        whole &=
            memcmp(frame.values, values, 7) == 0 && frame.checksum_ok == 1 && frame.reserved == 0;
        previous = frame.sequence;
        previous_time = frame.monotonic_s;
    }
    printf("%s: %d frames, the last with sequence %llu\n", name, received,
           (unsigned long long)previous);
    check(received == count, "every frame asked for came");
    check(in_order, "sequence numbers rise by one");
    check(stamped, "times rise and the wall clock is near now");
    check(whole, "values and checksum as sent");
}

static int32_t state_of(chirolink_glove* glove) {
    chirolink_status status;
    return chirolink_get_status(glove, &status) == CHIROLINK_OK ? status.state : -1;
}

/* Polls the state until it is `wanted`, for up to `ms`. */
static int reaches_state(chirolink_glove* glove, int32_t wanted, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (state_of(glove) == wanted) {
            return 1;
        }
        pause_ms(10);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: glove_api_check STEADY UNPLUGGING MISSING\n");
        return 2;
    }
    const char* steady_port = argv[1];
    const char* unplugging_port = argv[2];
    const char* missing_port = argv[3];
    chirolink_glove* steady = NULL;
    chirolink_glove* unplugging = NULL;
    chirolink_glove* refused = (chirolink_glove*)&passed; /* must be set to NULL */
    chirolink_frame frame;
    chirolink_status status;

    check(chirolink_version()[0] >= '1' && chirolink_version()[0] <= '9', "a version");
    check(chirolink_open(NULL, &refused) == CHIROLINK_ERR_ARG && refused == NULL,
          "no name: ERR_ARG, handle NULL");
    check(chirolink_open(steady_port, NULL) == CHIROLINK_ERR_ARG, "no handle: ERR_ARG");
    refused = (chirolink_glove*)&passed;
    check(chirolink_open(missing_port, &refused) == CHIROLINK_ERR_MISSING && refused == NULL,
          "missing port: ERR_MISSING");
    check(strcmp(chirolink_error_text(CHIROLINK_ERR_MISSING), "no such device") == 0,
          "the reason's text");
    check(chirolink_error_text(12345) != NULL, "a text for any result");
    check(chirolink_next_frame(NULL, &frame, 0) == CHIROLINK_ERR_ARG, "no handle to read");

    check(chirolink_open(steady_port, &steady) == CHIROLINK_OK, "the steady glove opens");
    check(chirolink_open(unplugging_port, &unplugging) == CHIROLINK_OK,
          "the other glove opens beside it");
    if (steady == NULL || unplugging == NULL) {
        printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    if (wine_version() != NULL) {
        /* Wine opens a port that is open already: a second link's hellos would reach the
         * steady glove and its reads would take bytes of the running link's frames. */
        printf("SKIP: a port held by a link: ERR_BUSY: Wine %s does not enforce exclusive opens\n",
               wine_version());
    } else {
        check(chirolink_open(steady_port, &refused) == CHIROLINK_ERR_BUSY && refused == NULL,
              "a port held by a link: ERR_BUSY");
    }

    every_frame_in_order(steady, kSteady, 150, "steady");
    every_frame_in_order(unplugging, kUnplugging, 150, "unplugging");
    check(chirolink_get_status(steady, &status) == CHIROLINK_OK &&
              status.state == CHIROLINK_STATE_RUNNING && status.frames >= 150 &&
              status.missed == 0 && status.last_frame_age_s >= 0 && status.last_frame_age_s < 1,
          "the steady glove's status");
    check(chirolink_latest_frame(steady, &frame) == CHIROLINK_OK && frame.sequence >= 150 &&
              memcmp(frame.values, kSteady, 7) == 0,
          "the latest frame, whole");

    /* A reader that does not wait gets ERR_TIMEOUT once it has caught up. */
    int caught_up = 0;
    for (int i = 0; i < 10000 && !caught_up; ++i) {
        caught_up = chirolink_next_frame(steady, &frame, 0) == CHIROLINK_ERR_TIMEOUT;
    }
    check(caught_up, "next_frame without waiting: ERR_TIMEOUT when none is queued");

    /* Gone and back: the state says so, and frames flow again in the same sequence. */
    check(reaches_state(unplugging, CHIROLINK_STATE_REOPENING, 10000), "gone: REOPENING");
    check(reaches_state(unplugging, CHIROLINK_STATE_RUNNING, 5000), "back: RUNNING");
    check(chirolink_get_status(unplugging, &status) == CHIROLINK_OK && status.reopens == 1,
          "one reopen counted");
    uint64_t before = status.frames;
    int fresh = 0;
    for (int i = 0; i < 2000 && !fresh; ++i) {
        fresh = chirolink_next_frame(unplugging, &frame, 1000) == CHIROLINK_OK &&
                frame.sequence > before;
    }
    check(fresh, "frames again after the return");

    /* Closing one handle leaves the other streaming. */
    chirolink_close(steady);
    before = frame.sequence;
    check(chirolink_next_frame(unplugging, &frame, 1000) == CHIROLINK_OK && frame.sequence > before,
          "the other glove streams on after a close");

    /* The process glove follows GloveInit and stays the same handle. */
    chirolink_glove* process = chirolink_process_glove();
    check(process != NULL && process == chirolink_process_glove(), "one process glove");
    check(state_of(process) == CHIROLINK_STATE_STOPPED, "stopped before GloveInit");
    check(GloveInit(steady_port) == 1, "GloveInit on the closed handle's port");
    check(chirolink_next_frame(process, &frame, 2000) == CHIROLINK_OK && frame.sequence == 1 &&
              memcmp(frame.values, kSteady, 7) == 0,
          "the process glove gets GloveInit's first frame");
    chirolink_close(process);
    check(chirolink_next_frame(process, &frame, 2000) == CHIROLINK_OK,
          "closing the process glove does nothing");
    GloveInit(NULL);
    check(state_of(process) == CHIROLINK_STATE_STOPPED, "stopped after GloveInit(NULL)");

    chirolink_close(unplugging);
    chirolink_close(NULL);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
