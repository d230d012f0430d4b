// The commands. Each gives the program's exit status: 0 done, 1 a port, glove or file
// failed, 2 a mistake on the command line.
#pragma once

#include "options.h"
#include "session.h"

namespace chirolink::cli {

int show(const Options& options, Console& console);
int record(const Options& options, Console& console);
int stream(const Options& options, Console& console);
int info(const Options& options, Console& console);
int calibrate(const Options& options, Console& console);
int ports(const Options& options, Console& console);  // ports.cpp
int scan(const Options& options, Console& console);   // scan.cpp

}  // namespace chirolink::cli
