/*
 * Chirolink calibration: how far each finger is bent, as a number from 0 to 1.
 *
 * The raw values differ from glove to glove and from hand to hand. A
 * calibration holds, per channel (finger 1..5, roll, pitch), the raw value
 * that means 0.0 (`low`: an open, flat hand for a finger) and the one that
 * means 1.0 (`high`: a fist). `low` above `high` is a sensor whose value
 * falls as it bends.
 *
 * It is kept in a small JSON file that people can read and edit
 * (`chirolink calibrate` captures one):
 *
 *     {
 *       "format": "chirolink-calibration",
 *       "version": 1,
 *       "hand": "right",
 *       "channels": {
 *         "finger1": {"low": 41, "high": 190},
 *         ...
 *         "pitch":   {"low": 31, "high": 222}
 *       }
 *     }
 *
 * A typical user:
 *
 *     chirolink_calibration calibration;
 *     char message[200];
 *     if (chirolink_calibration_load("right.json", &calibration, message,
 *                                    sizeof message) != CHIROLINK_OK) {
 *         fprintf(stderr, "right.json: %s\n", message);
 *         return 1;
 *     }
 *     float values[7];
 *     chirolink_calibrate(&calibration, &frame, values);
 *
 * The calls keep no state: any thread may call them at any time. No call
 * throws, prints or aborts; failures are results (CHIROLINK_ERR_*).
 */
#ifndef CHIROLINK_CALIBRATION_H
#define CHIROLINK_CALIBRATION_H

#include <stdint.h>

#include "chirolink_glove.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct chirolink_calibration {
    uint8_t low[7];   /* raw value that gives 0.0, per channel: finger 1..5, roll, pitch */
    uint8_t high[7];  /* raw value that gives 1.0 */
    uint8_t hand;     /* CHIROLINK_HAND_UNKNOWN, _LEFT or _RIGHT */
    uint8_t reserved; /* 0 */
} chirolink_calibration;

enum { CHIROLINK_HAND_UNKNOWN = 0, CHIROLINK_HAND_LEFT = 1, CHIROLINK_HAND_RIGHT = 2 };
enum { CHIROLINK_ERR_FORMAT = -9 }; /* not a calibration file, or a value out of range */

/*
 * Reads the calibration file `path` into `*calibration`.
 *
 * The file is one JSON object of at most 64 KiB, UTF-8: "format"
 * ("chirolink-calibration"), "version" (1) and all seven channels under
 * "channels" ("finger1" .. "finger5", "roll", "pitch"), each with integers
 * "low" and "high" in 0..255, are required; "hand" ("left" or "right") is
 * optional; other keys are ignored.
 *
 * message (may be NULL): on failure a line for people, e.g. "line 7: finger2:
 * \"high\" is 300, not 0..255"; always NUL-terminated within message_size.
 * No such file: CHIROLINK_ERR_MISSING; not allowed: _DENIED; anything wrong
 * with what it holds: _FORMAT. `*calibration` is written only on success.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_calibration_load(const char* path,
                                                                chirolink_calibration* calibration,
                                                                char* message,
                                                                int32_t message_size);

/*
 * Writes `*calibration` to the file `path` in the layout above, through a
 * temporary file in the same folder that is then renamed over `path`: a
 * crash or a full disk never leaves half a file. No such folder:
 * CHIROLINK_ERR_MISSING; not allowed: _DENIED; an existing file is replaced
 * whole or kept as it was. A hand other than the three above gives _ARG.
 */
CHIROLINK_API int32_t CHIROLINK_CALL
chirolink_calibration_save(const char* path, const chirolink_calibration* calibration);

/*
 * values: 7 floats in 0..1, one per channel: (raw - low) / (high - low) in
 * single precision, clamped to 0..1 (never -0.0); 0.5 where low == high.
 * The frame's checksum is not looked at.
 */
CHIROLINK_API int32_t CHIROLINK_CALL chirolink_calibrate(const chirolink_calibration* calibration,
                                                         const chirolink_frame* frame,
                                                         float values[7]);

#ifdef __cplusplus
}
#endif

#endif /* CHIROLINK_CALIBRATION_H */
