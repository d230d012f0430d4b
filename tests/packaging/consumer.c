/* A program built against an installed Chirolink: prints the glove's seven values, from its
 * first frame through the glove API, after mapping them through a calibration that gives each
 * value/255, so that the calibration header and calls are installed too. */
#include <stdio.h>

#include <chirolink_calibration.h>
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
    const chirolink_calibration whole = {
        {0, 0, 0, 0, 0, 0, 0}, {255, 255, 255, 255, 255, 255, 255}, CHIROLINK_HAND_UNKNOWN, 0};
    float values[7];
    if (chirolink_calibrate(&whole, &frame, values) != CHIROLINK_OK) {
        chirolink_close(glove);
        return 1;
    }
    for (int i = 0; i < 7; ++i) {
        printf("%s%u", i ? " " : "", (unsigned)(values[i] * 255.0f + 0.5f));
    }
    printf("\n");
    chirolink_close(glove);
    return 0;
}
