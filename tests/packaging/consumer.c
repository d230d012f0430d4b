/* A program built against an installed Chirolink: prints the glove's seven values, from its
 * first frame through the glove API. */
#include <stdio.h>

#include <chirolink_glove.h>

int main(int argc, char** argv) {
    chirolink_glove* glove = NULL;
    chirolink_frame frame;
    if (argc != 2 || chirolink_open(argv[1], &glove) != CHIROLINK_OK) {
        return 1;
    }
    if (chirolink_next_frame(glove, &frame, 2000) != CHIROLINK_OK) {
        chirolink_close(glove);
        return 1;
    }
    for (int i = 0; i < 7; ++i) {
        printf("%s%u", i ? " " : "", frame.values[i]);
    }
    printf("\n");
    chirolink_close(glove);
    return 0;
}
