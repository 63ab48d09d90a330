#include "cli/capture_settings.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/file_io.h"
#include "base/utf8_names.h"

namespace zav {

bool LoadCaptureSettings(const std::string& path, CaptureSettings& settings) {
    std::ifstream in(PathOf(path), std::ios::binary);
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
    SystemError ignored;
    std::filesystem::create_directories(PathOf(path).parent_path(), error);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(PathOf(temporary), std::ios::binary | std::ios::trunc);
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
            RemoveFile(temporary.c_str(), ignored);
            return false;
        }
    }
    if (!RenameFile(temporary.c_str(), path.c_str(), ignored)) {
        RemoveFile(temporary.c_str(), ignored);
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
