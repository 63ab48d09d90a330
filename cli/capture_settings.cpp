#include "cli/capture_settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zav {

std::string CaptureSettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config;
    if (xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !home[0])
            return {};
        config = std::string(home) + "/.config";
    }
    return config + "/zavprint/capture.conf";
}

bool LoadCaptureSettings(const std::string& path, CaptureSettings& settings) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "CaptureFolder")
            settings.folder = value;
        else if (key == "CaptureFilename")
            settings.name = value;
        else if (key == "SingleFile")
            settings.singleFile = value == "1";
        else if (key == "Pdf")
            settings.pdf = value == "1";
        else if (key == "PdfPaper")
            ParsePdfPaper(value, settings.paper);
        else if (key == "Printer")
            ParsePrinterModel(value, settings.printer);
        else if (key == "KeepRaw")
            settings.keepRaw = value == "1";
        else if (key == "SignKey")
            settings.signKey = value;
    }
    return true;
}

bool SaveCaptureSettings(const std::string& path, const CaptureSettings& settings) {
    for (const std::string* value : {&settings.folder, &settings.name, &settings.signKey}) {
        if (value->find_first_of("\r\n") != std::string::npos)
            return false;
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "CaptureFolder=" << settings.folder << "\n"
            << "CaptureFilename=" << settings.name << "\n"
            << "SingleFile=" << (settings.singleFile ? 1 : 0) << "\n"
            << "Pdf=" << (settings.pdf ? 1 : 0) << "\n"
            << "PdfPaper=" << PdfPaperName(settings.paper) << "\n"
            << "Printer=" << PrinterModelName(settings.printer) << "\n"
            << "KeepRaw=" << (settings.keepRaw ? 1 : 0) << "\n"
            << "SignKey=" << settings.signKey << "\n";
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

CaptureSettings RememberedCaptureSettings() {
    CaptureSettings settings;
    const std::string path = CaptureSettingsPath();
    if (!path.empty())
        LoadCaptureSettings(path, settings);
    return settings;
}

} // namespace zav
