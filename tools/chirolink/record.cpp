#include "calibration_use.h"
#include "commands.h"
#include "csv.h"
#include "recorder.h"

namespace chirolink::cli {

using std::chrono::milliseconds;

int record(const Options& options, Console& console) {
    auto gloves = glovesOn(options.ports);
    if (!loadCalibrations(options, gloves)) {
        return 1;
    }
    CsvFile file;
    if (const auto error = file.open(options.output, options.force, console); !error.empty()) {
        complain(error);
        return 1;
    }
    Recorder recorder(gloves, file);
    if (!startAll(gloves)) {
        file.discard();
        return 1;
    }
    std::string error = file.begin(!options.calibrations.empty());
    ProgressLine progress("record");
    recorder.begin(progress.started());
    std::vector<std::string> news;
    auto write = [&](bool everything) {
        if (error.empty()) {
            error = recorder.write(everything, news);
        }
        for (const auto& line : news) {
            progress.note(line);
        }
        news.clear();
    };
    auto report = [&] {
        const auto sum = totals(gloves);
        progress.update(Clock::now(), recorder.written(), sum.badChecksums + sum.lostReplies,
                        {{recorder.missed(), "missed"}});
    };
    const auto deadline = deadlineOf(options.duration, Clock::now());
    if (deadline) {
        file.endBy(*deadline);
    }
    auto nextReport = Clock::now() + progress.interval();
    while (error.empty() && carryOn(console, milliseconds(250), deadline)) {
        write(false);
        if (Clock::now() >= nextReport) {
            nextReport += progress.interval();
            report();
        }
    }
    for (auto& glove : gloves) {
        glove.link->stop();
    }
    write(true);
    report();
    progress.finish();
    for (const auto& line : recorder.summary()) {
        complain(line);
    }
    if (const auto closing = file.close(); error.empty()) {
        error = closing;
    }
    if (!error.empty()) {
        complain(error);
        return 1;
    }
    return 0;
}

}  // namespace chirolink::cli
