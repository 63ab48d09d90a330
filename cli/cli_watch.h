// zavprint capture --watch: unattended capture, printout after printout.
#pragma once

#include <string>

#include "capture/cable.h"
#include "capture/capture_trail.h"
#include "render/printout.h"
#include "report/pdf_writer.h"

namespace zav::cli {

struct WatchOptions {
    std::string port;   // the device; empty: /dev/zavprint, else the first "ZAV Print" cable
    SerialRoots roots;  // where ports and their product texts are looked up
    std::string folder; // where the captures go; empty: the current folder
    std::string prefix; // captures are named PREFIX-YYYYMMDD-HHMMSS
    bool singleFile = false;
    double idleStop = 0; // seconds of quiet that end a printout; 0: the default
    bool pdf = false;    // a PDF beside each report
    PdfPaper paper = PdfPaper::A4;
    PrinterModel printer = PrinterModel::Basic;
    bool keepRaw = true;   // each printout's bytes kept whole as NAME.raw
    RecordKeeping records; // who writes the records, and the key that signs them
};

inline constexpr double kDefaultWatchIdleStop = 5;
inline constexpr char kDefaultWatchPrefix[] = "printout";

// Records every printout until SIGTERM, SIGINT or SIGHUP, which finish the
// printout in progress. Returns the exit status.
int RunWatch(const WatchOptions& options);

} // namespace zav::cli
