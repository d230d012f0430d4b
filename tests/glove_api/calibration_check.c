/* The calibration calls from a plain C program: saved, replaced, loaded back, refused with the
 * line that is wrong, and a frame mapped to 0..1. Built for Linux and for both Windows targets
 * (run under Wine), where the rename over an existing file takes other calls.
 *
 * Usage: calibration_check FOLDER
 *   FOLDER  a folder of its own to write in (made when missing), relative or absolute
 * Exits 0 when every check held; prints each check that failed. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "chirolink_calibration.h"

#if defined(_WIN32)
#include <direct.h>
#define make_folder(path) _mkdir(path)
#else
#include <sys/stat.h>
#define make_folder(path) mkdir(path, 0777)
#endif

static int failed;

static void check(int holds, const char* what) {
    if (!holds) {
        ++failed;
        printf("FAIL: %s\n", what);
    }
}

static void write_text(const char* path, const char* text) {
    FILE* file = fopen(path, "wb");
    if (file != NULL) {
        fputs(text, file);
        fclose(file);
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: calibration_check FOLDER\n");
        return 2;
    }
    if (make_folder(argv[1]) != 0 && errno != EEXIST) {
        fprintf(stderr, "%s: cannot make the folder\n", argv[1]);
        return 2;
    }
    char path[1024], bad[1024], nowhere[1024], message[200];
    snprintf(path, sizeof path, "%s/right.json", argv[1]);
    snprintf(bad, sizeof bad, "%s/bad.json", argv[1]);
    snprintf(nowhere, sizeof nowhere, "%s/no-such-folder/left.json", argv[1]);

    chirolink_calibration first = {
        {41, 212, 38, 44, 50, 20, 31}, {190, 35, 201, 187, 176, 235, 222}, CHIROLINK_HAND_RIGHT, 0};
    chirolink_calibration second = first;
    second.low[0] = 0;
    second.high[0] = 200;
    second.hand = CHIROLINK_HAND_LEFT;
    check(chirolink_calibration_save(path, &first) == CHIROLINK_OK, "saved");
    check(chirolink_calibration_save(path, &second) == CHIROLINK_OK, "saved over the first");
    chirolink_calibration loaded;
    memset(&loaded, 0xff, sizeof loaded);
    check(chirolink_calibration_load(path, &loaded, message, sizeof message) == CHIROLINK_OK,
          "loaded");
    check(memcmp(&loaded, &second, sizeof loaded) == 0, "loaded as saved the second time");

    chirolink_frame frame;
    memset(&frame, 0, sizeof frame);
    const uint8_t raw[7] = {50, 35, 10, 187, 113, 20, 250};
    memcpy(frame.values, raw, 7);
    float values[7];
    check(chirolink_calibrate(&loaded, &frame, values) == CHIROLINK_OK, "calibrated");
    const float expected[7] = {0.25f, 1.0f, 0.0f, 1.0f, 0.5f, 0.0f, 1.0f};
    check(memcmp(values, expected, sizeof values) == 0, "values from 0 to 1");
    printf("values: %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", values[0], values[1], values[2],
           values[3], values[4], values[5], values[6]);

    write_text(bad,
               "{\n  \"format\": \"chirolink-calibration\",\n  \"version\": 1,\n"
               "  \"hand\": \"right\",\n  \"channels\": {\n"
               "    \"finger1\": {\"low\": 41, \"high\": 190},\n"
               "    \"finger2\": {\"low\": 212, \"high\": 300},\n"
               "    \"finger3\": {\"low\": 38, \"high\": 201},\n"
               "    \"finger4\": {\"low\": 44, \"high\": 187},\n"
               "    \"finger5\": {\"low\": 50, \"high\": 176},\n"
               "    \"roll\":    {\"low\": 20, \"high\": 235},\n"
               "    \"pitch\":   {\"low\": 31, \"high\": 222}\n  }\n}\n");
    check(
        chirolink_calibration_load(bad, &loaded, message, sizeof message) == CHIROLINK_ERR_FORMAT &&
            strcmp(message, "line 7: finger2: \"high\" is 300, not 0..255") == 0,
        "a value out of range refused with its line");
    printf("refused: %s\n", message);
    check(chirolink_calibration_load(nowhere, &loaded, message, sizeof message) ==
              CHIROLINK_ERR_MISSING,
          "no such file: ERR_MISSING");
    check(chirolink_calibration_save(nowhere, &first) == CHIROLINK_ERR_MISSING,
          "no such folder: ERR_MISSING");
    check(strcmp(chirolink_error_text(CHIROLINK_ERR_FORMAT), "not a calibration file") == 0,
          "the text of ERR_FORMAT");
    remove(path);
    remove(bad);
    return failed == 0 ? 0 : 1;
}
