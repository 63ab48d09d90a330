#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/capture_names.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"
#include "capture/capture_files.h"
#include "capture/capture_trail.h"
#include "cli/capture_settings.h"
#include "cli/cli.h"
#include "record/crypto.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"

namespace zav::cli {

void TellFinished(const FinishOutcome& outcome) {
    for (const PageOutcome& page : outcome.pages) {
        if (page.renderResult != kRenderOk) {
            std::printf("page: %s (not drawn)\n", page.capture.c_str());
            std::fprintf(stderr, "%s: not drawn: %s\n", page.capture.c_str(),
                         RenderResultText(page.renderResult));
        } else if (page.empty) {
            std::printf("page: %s -> %s (an empty sheet)\n", page.capture.c_str(),
                        page.bitmap.c_str());
        } else {
            std::printf("page: %s -> %s\n", page.capture.c_str(), page.bitmap.c_str());
        }
    }
    // The Epson 9-pin model's sheets, when a capture file has more than one.
    if (outcome.sheetBitmaps.size() > outcome.captureFiles.size()) {
        for (const std::string& bitmap : outcome.sheetBitmaps)
            std::printf("sheet: %s\n", bitmap.c_str());
    }
    if (outcome.reportWritten)
        std::printf("report: %s\n", outcome.reportPath.c_str());
    if (outcome.textWritten)
        std::printf("text: %s\n", outcome.textPath.c_str());
    if (outcome.pdfWritten)
        std::printf("pdf: %s\n", outcome.pdfPath.c_str());
    else if (outcome.reportWritten && outcome.pdfResult == kPdfNoPages)
        std::printf("pdf: none, no page could be drawn\n");
    std::fflush(stdout);
}

void TellNotFinished(const char* command, int result, const FinishOutcome& outcome) {
    std::string why = FinishResultText(result);
    if (!outcome.failedFile.empty())
        why += ": " + outcome.failedFile;
    std::fprintf(stderr, "zavprint %s: %s\n", command, WithReason(why, outcome.error).c_str());
}

bool TellRecord(const char* command, const CaptureNames& names, bool recorded, int recordResult,
                const std::string& recordError) {
    if (recordResult != record::kRecordOk)
        std::fprintf(stderr, "zavprint %s: %s: %s\n", command,
                     record::RecordResultText(recordResult), recordError.c_str());
    if (recorded)
        std::printf("record: %s\n", names.Record().c_str());
    std::fflush(stdout);
    return recordResult == record::kRecordOk;
}

enum FinishOption {
    kFinishFolder,
    kFinishName,
    kFinishSingleFile,
    kFinishPdf,
    kFinishPaper,
    kFinishNoText,
    kFinishOverwrite,
    kFinishPrinter,
    kFinishKeepRaw,
    kFinishSignKey,
};
constexpr OptionInfo kFinishOptions[] = {
    {kFinishFolder, "folder", "DIR",
     "the folder for the files (default: the current one;\nmade when missing)"},
    {kFinishName, "name", "NAME", "the name the files are made from (required)"},
    {kFinishSingleFile, "single-file", nullptr, "one capture file DIR/NAME.cpt for all pages"},
    {kFinishPdf, "pdf", nullptr,
     "also write DIR/NAME.pdf: one page per page bitmap at its\nprinted size"},
    {kFinishPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kFinishNoText, "no-text", nullptr, "no text file DIR/NAME.txt"},
    {kFinishOverwrite, "overwrite", nullptr, "replace an earlier capture NAME in DIR"},
    {kFinishPrinter, "printer", "MODEL",
     "the printer model: basic (default) or epson9 (Epson\n"
     "9-pin: a page per sheet of paper, cut where the sheets end)"},
    {kFinishKeepRaw, "keep-raw", nullptr, "also keep the bytes of RAW whole as DIR/NAME.raw"},
    {kFinishSignKey, "sign-key", "FILE",
     "sign the record and the audit lines with the private key\nFILE (default: the one "
     "zavprint capture remembers)"},
};

const CommandInfo kFinishCommand{
    .name = "finish",
    .synopsis = "finish RAW --name=NAME [OPTION]...",
    .summary = "Turns a raw recording of a printout into capture files, page bitmaps,\n"
               "the report DIR/NAME.html and its words DIR/NAME.txt: one page per form\n"
               "feed (DIR/NAME001.cpt, ...), or DIR/NAME.cpt with --single-file. RAW\n"
               "itself is never changed or deleted, except DIR/NAME.tmp: the recording\n"
               "a capture session NAME kept when it could not finish becomes the\n"
               "capture files as the session would have made them. It does not\n"
               "replace the files of an earlier capture NAME unless --overwrite; then\n"
               "exactly the new capture's files are left. Everything is made whole or\n"
               "not at all; the record DIR/NAME.sha256 and DIR/NAME.record.json last,\n"
               "and a line for each event in DIR/audit.log. Exit status 1 when anything\n"
               "could not be made, a page could not be drawn, or the record could not\n"
               "be written.",
    .options = kFinishOptions,
    .maxOperands = 1,
};

int RunFinish(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kFinishCommand, argc, argv, args))
        return args.exitStatus;
    const char* folder = "";
    const char* name = nullptr;
    FinishOptions options;
    options.keepRaw = true;
    CaptureSettings remembered;
    const std::string settingsPath = CaptureSettingsPath();
    if (!settingsPath.empty())
        LoadCaptureSettings(settingsPath, remembered);
    std::string signKeyPath = remembered.signKey;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kFinishFolder:
            folder = option.value;
            break;
        case kFinishName:
            name = option.value;
            break;
        case kFinishSingleFile:
            options.singleFile = true;
            break;
        case kFinishPdf:
            options.pdf = true;
            break;
        case kFinishPaper:
            if (!ParsePdfPaper(option.value, options.paper))
                return UsageError(kFinishCommand, "--paper is a4 or letter");
            break;
        case kFinishNoText:
            options.text = false;
            break;
        case kFinishOverwrite:
            options.replace = true;
            break;
        case kFinishPrinter:
            if (!ParsePrinterModel(option.value, options.printer))
                return UsageError(kFinishCommand, "--printer is basic or epson9");
            break;
        case kFinishKeepRaw:
            options.storeRaw = true;
            break;
        case kFinishSignKey:
            signKeyPath = option.value;
            break;
        }
    }
    const char* raw = args.operands.empty() ? nullptr : args.operands[0];
    if (!raw || !name)
        return UsageError(kFinishCommand, "name the raw recording and --name NAME");
    CaptureNames names;
    const int formed = CaptureNames::Make(folder, name, names);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint finish: %s\n",
                     formed == kBasePathNotAName ? kNotANameText : FinishResultText(formed));
        return kExitUsage;
    }
    if (*folder) {
        std::error_code error;
        std::filesystem::create_directories(PathOf(folder), error);
        if (!std::filesystem::is_directory(PathOf(folder), error)) {
            std::fprintf(stderr, "zavprint finish: the folder %s cannot be made%s%s\n", folder,
                         error ? ": " : "", error ? error.message().c_str() : "");
            return 1;
        }
    }
    record::SigningKey signKey;
    if (!signKeyPath.empty() && !LoadSignKey("finish", signKeyPath, signKey))
        return kExitUsage;
    if (!record::StartCrypto()) {
        std::fprintf(stderr, "zavprint finish: the cryptography library did not start\n");
        return 1;
    }
    // The recording a session of this name kept: finishing it completes that
    // session, so it goes once its bytes are in the capture files.
    const bool recovering = IsSameFile(raw, names.Recording().c_str());
    if (recovering) {
        options.keepRaw = false;
        std::printf("recovering the kept recording %s\n", raw);
    }

    // The bytes received are the recording's, as finishing reads it.
    CaptureTrail trail(names, {ProgramIdentity(), signKey.Valid() ? &signKey : nullptr},
                       {"", "", "", PrinterModelName(options.printer)});
    std::error_code sizeError;
    const bool readable = std::filesystem::file_size(PathOf(raw), sizeError) > 0 && !sizeError &&
                          OpenFile(raw, "rb") != nullptr;
    // The name is held until the record is written.
    NameClaim claim;
    if (readable && claim.Take(names.Claim()) == NameClaim::kClaimed) {
        options.claim = &claim;
        options.record = &trail.Record();
        options.recordReceived = true;
        trail.BeforeFinish(raw, options.replace, recovering);
    }

    FinishOutcome outcome;
    const int result = FinishCapture(raw, names.Base().c_str(), options, &outcome);
    bool recorded = true;
    if (options.record) {
        std::string recordError;
        const int written = trail.AfterFinish(result, outcome, {}, &recordError);
        recorded = TellRecord("finish", names, trail.RecordWritten(), written, recordError);
    }
    claim.Release();
    switch (result) {
    case kFinishOk:
        TellFinished(outcome);
        return outcome.NotDrawn() == 0 && recorded ? 0 : 1;
    case kFinishEmpty:
        std::fprintf(stderr, "zavprint finish: %s is empty: nothing was changed\n", raw);
        return 1;
    case kFinishInTheWay:
        std::fprintf(stderr,
                     "zavprint finish: %s is in the way (an earlier capture named %s); give "
                     "another --name, or --overwrite to replace it\n",
                     outcome.failedFile.c_str(), name);
        return 1;
    case kFinishNameInUse:
        std::fprintf(stderr,
                     "zavprint finish: another program is making a capture named %s (it holds "
                     "%s; remove that file if none is running)\n",
                     name, outcome.failedFile.c_str());
        return 1;
    default:
        TellNotFinished("finish", result, outcome);
        if (result != kFinishCannotOpenRaw)
            std::fprintf(stderr,
                         "zavprint finish: nothing was changed; the raw recording %s is "
                         "kept\n",
                         raw);
        return 1;
    }
}

} // namespace zav::cli
