// verify against an archive broken on purpose in every way it must notice.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "record/verify.h"
#include "record_test_support.h"

namespace {

using namespace zav::record;
namespace fs = std::filesystem;
using zavtest::ReadFile;
using zavtest::WriteFile;

class Verify : public zavtest::RecordFolder {
  protected:
    using Found = std::set<std::pair<FaultKind, std::string>>;
    Found Faults(const VerifyOptions& options = {}) {
        last_ = VerifyFolder(dir_.string(), options);
        Found found;
        for (const Fault& fault : last_.faults)
            found.emplace(fault.kind, fault.where);
        return found;
    }
    void Flip(const std::string& name, std::size_t at) {
        std::string bytes = ReadFile(Path(name));
        bytes[at] ^= 0x20;
        WriteFile(Path(name), bytes);
    }
    VerifyReport last_;
};

TEST_F(Verify, NamesEveryPlantedFault) {
    SigningKey key;
    ASSERT_TRUE(key.Generate());
    const char* names[] = {"alpha", "beta", "gamma", "delta", "eps"};
    for (unsigned i = 0; i < 5; ++i)
        ASSERT_EQ(zavtest::MakeCapture(Base(names[i]), 3, i, &key), kRecordOk);
    // An index page of the folder is no capture's and needs no record.
    WriteFile(Path("index.html"), "<html></html>");
    VerifyOptions options;
    options.keys = {key.Public()};
    options.isFolderFile = [](std::string_view name) { return name == "index.html"; };
    EXPECT_EQ(Faults(options), Found());
    EXPECT_EQ(last_.captures, 5u);
    EXPECT_EQ(last_.files, 35u);
    EXPECT_EQ(last_.logLines, 5u);

    Flip("alpha001.cpt", 100);
    Flip("alpha002.bmp", 16000);
    fs::remove(Path("beta002.cpt"));
    WriteFile(Path("beta.html"), "<html>another report</html>");
    WriteFile(Path("gamma004.bmp"), "BM");
    std::string record = ReadFile(Path("gamma.record.json"));
    record[record.size() - 10] = record[record.size() - 10] == '0' ? '1' : '0';
    WriteFile(Path("gamma.record.json"), record);
    for (const char* name : {"eps.record.json", "eps.sha256", "eps001.cpt", "eps001.bmp",
                             "eps002.cpt", "eps002.bmp", "eps003.cpt", "eps003.bmp", "eps.html"})
        fs::remove(Path(name));
    // The audit log: line 2 edited, line 4 (delta's) removed.
    std::string log = ReadFile(Path("audit.log"));
    const std::size_t pages = log.find("\"pages\": 3", log.find('\n'));
    log[pages + 9] = '4';
    const std::size_t line4 = log.find('\n', log.find('\n', log.find('\n') + 1) + 1) + 1;
    log.erase(line4, log.find('\n', line4) + 1 - line4);
    WriteFile(Path("audit.log"), log);

    EXPECT_EQ(Faults(options), (Found{
                                   {FaultKind::Changed, "alpha001.cpt"},
                                   {FaultKind::Changed, "alpha002.bmp"},
                                   {FaultKind::Missing, "beta002.cpt"},
                                   {FaultKind::Changed, "beta.html"},
                                   {FaultKind::Unrecorded, "gamma004.bmp"},
                                   {FaultKind::BadSignature, "gamma.record.json"},
                                   {FaultKind::NotLogged, "gamma.record.json"},
                                   {FaultKind::BadSignature, "audit.log line 2"},
                                   {FaultKind::BrokenLink, "audit.log line 3"},
                                   {FaultKind::BrokenLink, "audit.log line 4"},
                                   {FaultKind::NotLogged, "delta.record.json"},
                                   {FaultKind::CaptureGone, "eps.record.json"},
                               }));

    // One capture: its own faults and the log's.
    options.capture = "alpha";
    options.captureFiles = {"alpha001.cpt", "alpha002.bmp", "alpha.html", "alpha009.cpt"};
    WriteFile(Path("alpha009.cpt"), "a page nobody recorded");
    EXPECT_EQ(Faults(options), (Found{
                                   {FaultKind::Changed, "alpha001.cpt"},
                                   {FaultKind::Changed, "alpha002.bmp"},
                                   {FaultKind::Unrecorded, "alpha009.cpt"},
                                   {FaultKind::BadSignature, "audit.log line 2"},
                                   {FaultKind::BrokenLink, "audit.log line 3"},
                                   {FaultKind::BrokenLink, "audit.log line 4"},
                               }));
}

// Signatures: checked only with keys, and then required everywhere; a
// capture made again over an earlier one, with the "replaced" line between,
// holds.
TEST_F(Verify, SignaturesAndReplacedCaptures) {
    const Identity who{"labpc", "tech", "zavprint test"};
    SigningKey key, other;
    ASSERT_TRUE(key.Generate() && other.Generate());
    ASSERT_EQ(zavtest::MakeCapture(Base("run"), 2, 1, &key), kRecordOk);
    const std::string oldReport = ReadFile(Path("run.html"));
    ASSERT_EQ(AppendAuditEvent(dir_.string(),
                               ReplacedEvent("run", {Path("run.html"), Path("run.record.json")}),
                               who, &key),
              kAuditOk);
    ASSERT_EQ(zavtest::MakeCapture(Base("run"), 1, 2, &key), kRecordOk);
    fs::remove(Path("run002.cpt"));
    fs::remove(Path("run002.bmp"));
    VerifyOptions options;
    options.keys = {other.Public(), key.Public()};
    EXPECT_EQ(Faults(options), Found());

    std::vector<AuditLine> lines;
    std::string error;
    ASSERT_TRUE(ReadAuditLog(dir_.string(), lines, error));
    ASSERT_EQ(lines.size(), 3u);
    const Json& replaced = lines[1].body.Find("files")->Items()[0];
    EXPECT_EQ(*replaced.Find("sha256")->Text(), ToHex(Sha256Of(oldReport)));

    EXPECT_EQ(Faults(), Found());
    EXPECT_EQ(last_.notes.size(), 1u) << "signatures were not checked";
    ASSERT_EQ(zavtest::MakeCapture(Base("plain"), 1, 3), kRecordOk);
    options.keys = {key.Public()};
    EXPECT_EQ(Faults(options), (Found{{FaultKind::Unsigned, "plain.record.json"},
                                      {FaultKind::Unsigned, "audit.log line 4"}}));
    options.keys = {other.Public()};
    EXPECT_EQ(Faults(options).count({FaultKind::BadSignature, "run.record.json"}), 1u);
}

} // namespace
