// The help texts of the program and of each command, as --help prints them.
#include "options.h"

namespace chirolink::cli {
namespace {

constexpr const char* kProgramUsage =
    "usage: chirolink COMMAND [PORT...] [OPTION...]\n"
    "\n"
    "Reads data gloves on serial ports (\"COM1\" or a device path such as /dev/ttyUSB0).\n"
    "\n"
    "commands:\n"
    "  show PORT... [--duration S]           the values of each glove, live in the terminal\n"
    "  record PORT... -o FILE.csv [--duration S] [--force]\n"
    "                                        every frame of every glove into a CSV file\n"
    "  stream PORT... --osc HOST:PORT [--osc-format F] [--duration S]\n"
    "                                        every frame as an OSC message over UDP\n"
    "  info PORT                             check one port: handshake, 2 s of frames\n"
    "  calibrate PORT -o FILE.json [--seconds S] [--hand left|right] [--invert CHANNEL,...]\n"
    "  calibrate --from RECORDING.csv [--glove NAME] -o FILE.json ...\n"
    "                                        capture each sensor's range into a calibration\n"
    "show, record and stream take --calibration FILE.json per port: values from 0 to 1.\n"
    "  ports                                 the machine's serial ports\n"
    "  scan [PORT...] [--quiet]              which ports have a glove (sends hellos)\n"
    "\n"
    "'chirolink COMMAND --help' tells more, 'chirolink --version' the version. Exit status:\n"
    "0 done, 1 a port, glove or file failed, 2 a mistake on the command line.\n";

constexpr const char* kShowUsage =
    "usage: chirolink show PORT... [--duration SECONDS] [--calibration FILE.json...]\n"
    "\n"
    "Shows each glove's seven values as numbers and bars, its frames per second, checksum\n"
    "errors, lost replies and the time since its last frame, redrawn in place 20 times a\n"
    "second. When standard output is not a terminal, prints one plain line per glove each\n"
    "second instead. Runs until Ctrl+C, SIGTERM, SIGHUP or the end of --duration.\n"
    "  --calibration FILE.json  once per PORT, in the same order: the bars show the values\n"
    "                           from 0 to 1 (see chirolink calibrate --help)\n";

constexpr const char* kRecordUsage =
    "usage: chirolink record PORT... -o FILE.csv [--duration SECONDS] [--force]\n"
    "\n"
    "Writes every frame of every glove to FILE.csv, one row each:\n"
    "  glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,\n"
    "  checksum,checksum_ok\n"
    "glove is the port as given, sequence counts the glove's frames from 1, monotonic_s is the\n"
    "arrival of the frame's last byte on the monotonic clock, wall_time the same moment in UTC.\n"
    "Runs until Ctrl+C, SIGTERM, SIGHUP or the end of --duration; the file then ends with\n"
    "whole rows.\n"
    "\n"
    "  -o, --output FILE.csv   the file to write ('-': standard output); an existing file\n"
    "                          only with --force\n"
    "  --duration SECONDS      stop after this long\n"
    "  --force                 overwrite FILE.csv\n"
    "  --calibration FILE.json once per PORT, in the same order: seven more columns after\n"
    "                          checksum_ok, finger1_cal ... pitch_cal, from 0 to 1\n";

constexpr const char* kStreamUsage =
    "usage: chirolink stream PORT... --osc HOST:PORT [--osc-format FORMAT] [--duration SECONDS]\n"
    "\n"
    "Sends every frame as an OSC message over UDP to HOST:PORT (a name, an IPv4 address, or\n"
    "an IPv6 address in brackets: [::1]:9000). N is 1 for the first PORT given, 2 for the\n"
    "second, ... --osc-format chooses the messages:\n"
    "  frame (the default)\n"
    "    /chirolink/N/frame   iiiiiiiihd  finger 1 to 5, roll and pitch (0 to 255), checksum\n"
    "                                     good (1 or 0), the frame's sequence number and its\n"
    "                                     arrival in seconds on the monotonic clock\n"
    "  float\n"
    "    /chirolink/N/values  fffffff     the seven values scaled to 0..1\n"
    "    /chirolink/N/state   s           \"running\" or \"reopening\", when it changes\n"
    "--calibration FILE.json, once per PORT in the same order: the float format sends the\n"
    "calibrated values (see chirolink calibrate --help) instead of value/255.\n"
    "Messages that cannot be sent are counted on standard error once a second; when none at\n"
    "all could be sent, the exit status is 1. Runs until Ctrl+C, SIGTERM, SIGHUP or the end\n"
    "of --duration.\n";

constexpr const char* kInfoUsage =
    "usage: chirolink info PORT\n"
    "\n"
    "Opens PORT, says hello to the glove and, when it answers, reads frames for two seconds.\n"
    "Prints what answered, the port's line settings, frames per second and errors. Exit\n"
    "status 0 only when a glove answered.\n";

constexpr const char* kPortsUsage =
    "usage: chirolink ports\n"
    "\n"
    "Lists the machine's serial ports without opening any, one a line: the name to open, then\n"
    "where there is one the stable name (Linux: /dev/serial/by-id/..., the same after a\n"
    "replug), the USB vendor and product ids with the serial number, and a description.\n";

constexpr const char* kScanUsage =
    "usage: chirolink scan [PORT...] [--quiet]\n"
    "\n"
    "Says hello to a glove on the ports given, or on every port that 'chirolink ports' lists,\n"
    "all at once (about 1.2 s in all), and prints for each port: glove, no glove, busy, no\n"
    "access or why it could not be opened; then the ports with a glove.\n"
    "\n"
    "It sends the hello bytes (0x41, up to three) to every port it probes: with other serial\n"
    "devices attached, name the ports to try. Each port gets its settings back afterwards.\n"
    "\n"
    "  --quiet   only the names of the ports with a glove, one a line, for scripts:\n"
    "            chirolink show $(chirolink scan --quiet)\n"
    "\n"
    "Exit status 0 when a glove was found, 1 when none.\n";

constexpr const char* kCalibrateUsage =
    "usage: chirolink calibrate PORT -o FILE.json [--seconds S] [--hand left|right]\n"
    "                           [--invert CHANNEL,...] [--force]\n"
    "       chirolink calibrate --from RECORDING.csv [--glove NAME] -o FILE.json ...\n"
    "\n"
    "Captures the range of each of the glove's seven sensors into a calibration file, which\n"
    "show, record and stream take with --calibration to give values from 0 (open, flat hand)\n"
    "to 1 (fist). For S seconds open and close the hand fully a few times and move the wrist\n"
    "through its range; each channel's range so far is drawn live (a line a second when\n"
    "standard output is not a terminal). The command runs for S seconds and ends; it waits\n"
    "for no key. Of the frames with a good checksum, the extreme 1 % at each end of each\n"
    "channel is left out, so that a glitch does not widen the range. A channel that moved\n"
    "less than 16 is named in a warning; the file is still written.\n"
    "\n"
    "  -o, --output FILE.json  the calibration to write; an existing file only with --force\n"
    "  --seconds S             how long to capture (10 by default)\n"
    "  --hand left|right       which hand the glove is on, kept in the file\n"
    "  --invert CHANNEL,...    swap low and high of these channels (finger1 .. finger5, roll,\n"
    "                          pitch): a sensor whose value falls as it bends\n"
    "  --from RECORDING.csv    the frames of a recording of chirolink record instead of a PORT\n"
    "  --glove NAME            the glove in the recording (its glove column), when it holds\n"
    "                          several\n"
    "  --force                 overwrite FILE.json\n";

}  // namespace

const char* usageText(std::optional<Command> command) {
    if (!command) {
        return kProgramUsage;
    }
    switch (*command) {
        case Command::show:
            return kShowUsage;
        case Command::record:
            return kRecordUsage;
        case Command::stream:
            return kStreamUsage;
        case Command::info:
            return kInfoUsage;
        case Command::calibrate:
            return kCalibrateUsage;
        case Command::ports:
            return kPortsUsage;
        case Command::scan:
            return kScanUsage;
    }
    return kProgramUsage;
}

}  // namespace chirolink::cli
