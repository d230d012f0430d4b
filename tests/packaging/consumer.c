/* A program built against an installed Chirolink: prints the glove's seven values. */
#include <stdio.h>
#include <time.h>

#include <chirolink.h>

int main(int argc, char** argv) {
    if (argc != 2 || !GloveInit(argv[1])) {
        return 1;
    }
    /* Wait for a first frame to replace the handshake's answer. */
    for (int i = 0; i < 400 && GloveGetData(6) == 0; ++i) {
        struct timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    for (int i = 0; i < 7; ++i) {
        printf("%s%u", i ? " " : "", GloveGetData(i));
    }
    printf("\n");
    return 0;
}
