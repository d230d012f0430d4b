/* A plain C client of the shared library, run by the tests as a separate process.
 *
 *   chirolink-probe init PORT       GloveInit(PORT); on success wait for the first frame and
 *                                   return from main with the acquisition thread running.
 *   chirolink-probe nothread PORT   GloveInit(PORT) with too little address space left for a
 *                                   thread: must give 0 and close the port, which a second
 *                                   GloveInit with the limit lifted then proves.
 *   chirolink-probe exitduringinit  return from main while another thread calls GloveInit(NULL)
 *                                   without pause: the exit handlers run beside those calls.
 *   chirolink-probe initatexit PORT GloveInit(PORT), and again from an exit handler registered
 *                                   before it: the second call must give 0 (exit status 0).
 *
 * Exit status: 0 as expected, 1 GloveInit gave 0, 2 usage, 3 something else went wrong.
 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "chirolink.h"

static void pause_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

static unsigned long long address_space_in_use(void) {
    unsigned long long kib = 0;
    char line[256];
    FILE* status = fopen("/proc/self/status", "r");
    if (status == NULL) {
        return 0;
    }
    while (fgets(line, sizeof line, status) != NULL) {
        if (sscanf(line, "VmSize: %llu kB", &kib) == 1) {
            break;
        }
    }
    fclose(status);
    return kib * 1024;
}

static int init(const char* port) {
    if (GloveInit(port) != 1) {
        return 1;
    }
    /* Wait until a frame replaced the handshake answer, then leave with the thread busy. */
    for (int i = 0; i < 200 && GloveGetData(0) == 0x55; ++i) {
        pause_ms(5);
    }
    return 0;
}

static int no_thread(const char* port) {
    struct rlimit original;
    if (getrlimit(RLIMIT_AS, &original) != 0) {
        return 3;
    }
    /* Room for the handshake, none for a thread's stack. */
    struct rlimit tight = {address_space_in_use() + 1024 * 1024, original.rlim_max};
    if (setrlimit(RLIMIT_AS, &tight) != 0) {
        return 3;
    }
    const int32_t refused = GloveInit(port);
    setrlimit(RLIMIT_AS, &original);
    if (refused != 0) {
        return 3;
    }
    return GloveInit(port) == 1 ? 0 : 1;
}

static const char* exit_port = NULL;

static void init_again_at_exit(void) {
    fflush(stdout);
    _exit(GloveInit(exit_port) == 0 ? 0 : 1);
}

static int init_at_exit(const char* port) {
    exit_port = port;
    if (atexit(init_again_at_exit) != 0) {
        return 3;
    }
    return GloveInit(port) == 1 ? 0 : 3;
}

static void* init_without_pause(void* unused) {
    (void)unused;
    for (;;) {
        GloveInit(NULL);
    }
    return NULL;
}

static int exit_during_init(void) {
    pthread_t caller;
    if (pthread_create(&caller, NULL, init_without_pause, NULL) != 0) {
        return 3;
    }
    pause_ms(100);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "exitduringinit") == 0) {
        return exit_during_init();
    }
    if (argc != 3) {
        fprintf(stderr, "usage: %s init|nothread|initatexit PORT, or %s exitduringinit\n", argv[0],
                argv[0]);
        return 2;
    }
    if (strcmp(argv[1], "init") == 0) {
        return init(argv[2]);
    }
    if (strcmp(argv[1], "nothread") == 0) {
        return no_thread(argv[2]);
    }
    if (strcmp(argv[1], "initatexit") == 0) {
        return init_at_exit(argv[2]);
    }
    fprintf(stderr, "usage: %s init|nothread|initatexit PORT, or %s exitduringinit\n", argv[0],
            argv[0]);
    return 2;
}
