// The record of a finished capture as sha256sum and verify check it, the
// trail of a replacement, a capture cut short that claims no file it did not
// make whole, and a file written from its end past what the record holds.
#include "capture/capture_trail.h"

#include <cstdlib>

#include "capture_test_support.h"
#include "record/audit_log.h"
#include "record/json.h"
#include "record/verify.h"

namespace {

using namespace zav;
namespace fs = zavtest::fs;

class Trail : public zavtest::CaptureFolderTest {
  protected:
    // Finishes `raw` as the capture NAME, with its record.
    int Finish(const std::string& raw, const std::string& name, FinishOptions options,
               int* recorded = nullptr, const std::string& cut = {}) {
        const CaptureNames names(Path(name));
        CaptureTrail trail(names, {"zavprint test", nullptr},
                           {"MODEL 7", "/dev/x", "FT01", "basic"});
        if (!options.recordReceived) {
            record::Sha256Digest digest{};
            std::uint64_t size = 0;
            EXPECT_TRUE(record::Sha256OfFile(raw, digest, size));
            trail.Record().SetReceived(size, digest);
        }
        options.record = &trail.Record();
        trail.BeforeFinish(raw, options.replace, false);
        FinishOutcome outcome;
        const int result = FinishCapture(raw.c_str(), names.Base().c_str(), options, &outcome);
        const int written = trail.AfterFinish(result, outcome, cut);
        if (recorded)
            *recorded = written;
        return result;
    }
    record::Json Record(const std::string& name) {
        record::Json json;
        EXPECT_TRUE(record::ParseJson(Read(CaptureNames(Path(name)).Record()), json));
        return json;
    }
    // sha256sum's own verdict on NAME.sha256, run in the folder.
    int Sha256sum(const std::string& name) {
        const std::string command =
            "cd '" + dir_.string() + "' && sha256sum -c --quiet '" + name + ".sha256' >/dev/null";
        return std::system(command.c_str());
    }
    std::vector<std::string> Events() {
        std::vector<record::AuditLine> lines;
        std::string error;
        EXPECT_TRUE(record::ReadAuditLog(dir_.string(), lines, error)) << error;
        std::vector<std::string> events;
        for (const record::AuditLine& line : lines)
            events.emplace_back(line.Event());
        return events;
    }
    std::vector<std::string> Faults() {
        std::vector<std::string> faults;
        for (const record::Fault& fault : record::VerifyFolder(dir_.string(), {}).faults)
            faults.push_back(std::string(record::FaultWord(fault.kind)) + " " + fault.where);
        return faults;
    }
};

TEST_F(Trail, FinishedCaptureChecksWithSha256sumAndVerifyNamesEveryPlantedFault) {
    const std::string raw = Path("in.bin");
    Write(raw, "ONE\r\n\fTWO\r\n\fTHREE\r\n\f");
    FinishOptions options;
    options.keepRaw = true;
    options.storeRaw = true;
    options.pdf = true;
    int recorded = -1;
    ASSERT_EQ(Finish(raw, "run", options, &recorded), kFinishOk);
    EXPECT_EQ(recorded, record::kRecordOk);
    EXPECT_EQ(Sha256sum("run"), 0);
    const record::Json json = Record("run");
    EXPECT_TRUE(json.Find("complete")->IsTrue());
    EXPECT_EQ(*json.Find("received")->Find("sha256")->Text(),
              record::ToHex(record::Sha256Of(Read(raw))));
    EXPECT_EQ(*json.Find("cable_serial")->Text(), "FT01");
    std::vector<std::string> listed;
    for (const record::Json& file : json.Find("files")->Items())
        listed.push_back(*file.Find("name")->Text());
    EXPECT_EQ(listed, (std::vector<std::string>{"run.html", "run.pdf", "run.raw", "run.txt",
                                                "run001.bmp", "run001.cpt", "run002.bmp",
                                                "run002.cpt", "run003.bmp", "run003.cpt"}));
    EXPECT_EQ(Read(Path("run.raw")), Read(raw));
    fs::remove(raw);
    EXPECT_EQ(Faults(), std::vector<std::string>{});

    // Replacing says what went, with the hashes the files had.
    const std::string earlierReport = Read(Path("run.html"));
    Write(raw, "NEW\r\n\f");
    options.replace = true;
    options.storeRaw = false;
    ASSERT_EQ(Finish(raw, "run", options), kFinishOk);
    fs::remove(raw);
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"started", "finished", "started", "replaced", "finished"}));
    std::vector<record::AuditLine> lines;
    std::string error;
    ASSERT_TRUE(record::ReadAuditLog(dir_.string(), lines, error));
    const std::string replaced = record::ToJson(lines[3].body, false);
    EXPECT_NE(replaced.find(record::ToHex(record::Sha256Of(earlierReport))), std::string::npos);
    EXPECT_EQ(Sha256sum("run"), 0);
    EXPECT_EQ(Faults(), (std::vector<std::string>{"unrecorded run.raw"})); // a recording stays

    // A byte changed, a page gone.
    fs::remove(Path("run.raw"));
    std::string bitmap = Read(Path("run001.bmp"));
    bitmap[bitmap.size() / 2] ^= 1;
    Write(Path("run001.bmp"), bitmap);
    fs::remove(Path("run001.cpt"));
    EXPECT_NE(Sha256sum("run"), 0);
    EXPECT_EQ(Faults(), (std::vector<std::string>{"changed run001.bmp", "missing run001.cpt"}));
}

// Finishing reads the recording once, and the record takes the bytes
// received from that reading: all of them, also the byte after the last form
// feed that no page keeps, whichever way the capture is made.
TEST_F(Trail, RecordTakesEveryByteOfTheRecordingAsFinishingReadsIt) {
    const std::string bytes = "ONE\r\n\f" + std::string(66000, 'x') + "\r\n\fZ"; // two reads
    struct Way {
        const char* name;
        bool singleFile;
        bool keepRaw;
        PrinterModel printer;
    };
    for (const Way& way : {Way{"pages", false, false, PrinterModel::Basic},
                           Way{"sheets", false, true, PrinterModel::Epson9},
                           Way{"moved", true, false, PrinterModel::Basic},
                           Way{"copied", true, true, PrinterModel::Basic}}) {
        SCOPED_TRACE(way.name);
        const std::string raw = Path(std::string(way.name) + ".in");
        Write(raw, bytes);
        FinishOptions options;
        options.singleFile = way.singleFile;
        options.keepRaw = way.keepRaw;
        options.printer = way.printer;
        options.text = false;
        options.recordReceived = true;
        int recorded = -1;
        ASSERT_EQ(Finish(raw, way.name, options, &recorded), kFinishOk);
        EXPECT_EQ(recorded, record::kRecordOk);
        const record::Json json = Record(way.name);
        const record::Json* received = json.Find("received");
        ASSERT_NE(received, nullptr);
        std::uint64_t count = 0;
        EXPECT_TRUE(received->Find("bytes")->ToUint64(count));
        EXPECT_EQ(count, bytes.size());
        EXPECT_EQ(*received->Find("sha256")->Text(), record::ToHex(record::Sha256Of(bytes)));
        EXPECT_EQ(Sha256sum(way.name), 0);
    }
}

TEST_F(Trail, FailedFinishLeavesNoRecordAndNeverTakesAnEarlierOne) {
    const std::string raw = Path("in.bin");
    Write(raw, "ONE\r\n\f" + std::string(3000, 'x') + "\r\n\f");
    FinishOptions options;
    options.keepRaw = true;
    {
        // The page files fit, their bitmaps do not: nothing is put in place,
        // and no record claims anything; the trail says what failed.
        zavtest::FileSizeLimit limit(8192);
        ASSERT_NE(Finish(raw, "cut", options), kFinishOk);
    }
    EXPECT_FALSE(fs::exists(CaptureNames(Path("cut")).Record()));
    EXPECT_FALSE(fs::exists(CaptureNames(Path("cut")).Checksums()));
    EXPECT_EQ(Events(), (std::vector<std::string>{"started", "failed"}));

    // A recording cut short, finished: its record says so.
    FinishOptions whole;
    whole.keepRaw = true;
    ASSERT_EQ(Finish(raw, "short", whole, nullptr, "the recording was cut short"), kFinishOk);
    const record::Json json = Record("short");
    EXPECT_FALSE(json.Find("complete")->IsTrue());
    EXPECT_EQ(*json.Find("failure")->Text(), "the recording was cut short");
    EXPECT_EQ(Sha256sum("short"), 0);
    EXPECT_EQ(Events().back(), "failed");

    // An earlier capture of the name stays as it was, its record too.
    Write(Path("keep.bin"), "OLD\r\n\f");
    FinishOptions plain;
    plain.keepRaw = true;
    ASSERT_EQ(Finish(Path("keep.bin"), "old", plain), kFinishOk);
    const std::string earlier = Read(CaptureNames(Path("old")).Record());
    options.replace = true;
    {
        zavtest::FileSizeLimit limit(8192);
        ASSERT_NE(Finish(raw, "old", options), kFinishOk);
    }
    EXPECT_EQ(Read(CaptureNames(Path("old")).Record()), earlier);
    EXPECT_EQ(Sha256sum("old"), 0);
    EXPECT_EQ(Events().back(), "failed");
    // ... and verify still takes it for the capture's record.
    for (const std::string& fault : Faults())
        EXPECT_EQ(fault.find("old.record.json"), std::string::npos) << fault;
}

// A file written from its end, more than the record holds in memory: hashed
// once from its work file before it takes its name.
TEST_F(Trail, FileWrittenFromItsEndPastWhatIsHeld) {
    record::CaptureRecord record(Path("big"), record::LocalIdentity("zavprint test"), {});
    const std::size_t block = 1 << 20, blocks = record::RecordedFile::kMaxHeldAhead / block + 2;
    std::string whole;
    for (std::size_t i = 0; i < blocks; ++i)
        whole += std::string(block, static_cast<char>('a' + i % 26));
    OutputFile file(Path("big001.bmp"));
    file.Observe(&record);
    for (std::size_t i = blocks; i-- > 0;)
        ASSERT_TRUE(file.WriteAt(i * block, whole.data() + i * block, block));
    ASSERT_TRUE(file.Commit());
    ASSERT_EQ(record.Write(nullptr), record::kRecordOk);
    EXPECT_EQ(Sha256sum("big"), 0);
    EXPECT_EQ(Read(Path("big.sha256")), record::SumsLine(record::Sha256Of(whole), "big001.bmp"));
}

} // namespace
