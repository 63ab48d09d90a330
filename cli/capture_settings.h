// The capture settings of the command-line program, remembered between runs
// in a small text file: one "Name=value" line each for "CaptureFolder",
// "CaptureFilename", "SingleFile" (0 or 1), "Pdf" (0 or 1), "PdfPaper"
// ("a4" or "letter"), "Printer" ("basic" or "epson9"), "KeepRaw" (0 or 1)
// and "SignKey" (the private key that signs records; empty: none).
#pragma once

#include <string>

#include "render/printout.h"
#include "report/pdf_writer.h"

namespace zav {

struct CaptureSettings {
    std::string folder; // empty: the current folder
    std::string name;
    bool singleFile = false;
    bool pdf = false; // a PDF beside the report
    PdfPaper paper = PdfPaper::A4;
    PrinterModel printer = PrinterModel::Basic;
    bool keepRaw = false; // the bytes received kept whole as NAME.raw
    std::string signKey;  // the private key file that signs records; empty: none
};

// $XDG_CONFIG_HOME/zavprint/capture.conf, or ~/.config/zavprint/capture.conf
// when XDG_CONFIG_HOME is unset or not absolute (on Windows
// %APPDATA%\zavprint\capture.conf); empty when neither is known.
std::string CaptureSettingsPath();

// Reads the values the file has into `settings`, leaving the others as they
// are; false when the file cannot be read.
bool LoadCaptureSettings(const std::string& path, CaptureSettings& settings);

// The settings remembered in CaptureSettingsPath(), as far as they are there.
CaptureSettings RememberedCaptureSettings();

// Writes the file (and its folder) whole, through a temporary file; false when
// it cannot be written or a value holds a line break.
bool SaveCaptureSettings(const std::string& path, const CaptureSettings& settings);

} // namespace zav
