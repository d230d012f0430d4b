// The CSV file `record` writes: one header row, then one row per frame.
#pragma once

#include <string>
#include <string_view>

#include "chirolink_calibration.h"
#include "console.h"
#include "glove_link.h"
#include "output_file.h"

namespace chirolink::cli {

inline constexpr std::string_view kCsvHeader =
    "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,"
    "checksum,checksum_ok\n";

// After checksum_ok, with --calibration: the seven values from 0 to 1.
inline constexpr std::string_view kCalibratedColumns =
    ",finger1_cal,finger2_cal,finger3_cal,finger4_cal,finger5_cal,roll_cal,pitch_cal";

// The field as written: quoted, with quotes doubled, when it holds a comma, quote or line end.
std::string csvField(std::string_view text);

// Appends one row: `glove` as csvField made it, then the frame, then with a calibration the
// calibrated values with 4 decimals.
void appendRow(std::string& out, std::string_view glove, const StampedFrame& frame,
               const chirolink_calibration* calibration = nullptr);

// A recording that only ever ends with a whole row: rows are collected in memory and written
// in one write() each time. In a regular file a write that fails half-way is cut back; "-"
// (standard output), a pipe or a device is written as a stream, from where it stands, in
// pieces of whole rows that a pipe takes whole or not at all. A stream that takes nothing
// more (its reader stopped reading) is waited for until a stop is requested or the end set by
// endBy() has come, and then for a second at most without progress: the recording ends with
// the rows it took.
class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Opens `path` ("-": standard output) for writing without touching what it holds; an
    // existing regular file only when `overwrite`. Waits for a FIFO's reader until a stop is
    // requested. Gives an error text, empty on success. `console` must outlive this object.
    std::string open(const std::string& path, bool overwrite, Console& console);
    // Empties a regular file, then writes the header row (`calibrated`: with the calibrated
    // columns).
    std::string begin(bool calibrated = false);
    // When the recording is to end (--duration): a stalled stream is not waited for past it.
    void endBy(Clock::time_point end) { end_ = end; }
    // Writes `rows` (whole rows) at the end. Gives an error text, empty on success; `taken`
    // becomes the count of bytes of `rows` that are in the file (on an error: those of the
    // whole rows a stream took before it).
    std::string write(const std::string& rows, std::size_t* taken = nullptr);
    // Flushes to the disk and closes. Gives an error text, empty on success.
    std::string close();
    // Closes and removes a file this object created; leaves an existing one as it was.
    void discard();

private:
    std::string failure() const;

    Console* console_ = nullptr;
    Clock::time_point end_ = Clock::time_point::max();
    OutputFile file_;
    std::string path_;
    std::string name_;  // for messages: the path, or "standard output"
    bool created_ = false;
    long long size_ = 0;
};

}  // namespace chirolink::cli
