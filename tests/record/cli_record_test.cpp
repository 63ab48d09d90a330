// zavprint verify and keygen as a user calls them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "record_test_support.h"
#include "tests/capture/process_test_support.h"

namespace {

using zavtest::ReadFile;
using zavtest::WriteFile;

class RecordCli : public zavtest::RecordFolder {
  protected:
    struct Result {
        int status;
        std::string out;
    };
    Result Zavprint(std::vector<std::string> words) {
        words.insert(words.begin(), ZAVPRINT_PATH);
        pid_t pid = zavtest::Spawn(words, -1, Path("out.txt"), Path("config"));
        const int status = zavtest::WaitFor(pid, std::chrono::seconds(60));
        Result result{status, ReadFile(Path("out.txt"))};
        std::filesystem::remove(Path("out.txt"));
        return result;
    }
};

TEST_F(RecordCli, VerifyTellsByItsExitStatusAndLogsOnlyWhenAsked) {
    const std::string archive = Path("archive");
    std::filesystem::create_directory(archive);
    ASSERT_EQ(zavtest::MakeCapture(archive + "/run", 2, 1), zav::record::kRecordOk);
    ASSERT_EQ(zavtest::MakeCapture(archive + "/next", 1, 2), zav::record::kRecordOk);
    const std::string log = ReadFile(archive + "/audit.log");

    Result r = Zavprint({"verify", archive});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("checked 2 captures, 8 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("all holds"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(archive + "/audit.log"), log); // it changed nothing

    WriteFile(archive + "/index.html", "<html></html>"); // the watch's index page
    std::string page = ReadFile(archive + "/run002.cpt");
    page[0] ^= 1;
    WriteFile(archive + "/run002.cpt", page);
    r = Zavprint({"verify", archive + "/run.record.json", "--log"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("changed: run002.cpt: "), std::string::npos) << r.out;
    EXPECT_EQ(Zavprint({"verify", archive + "/next"}).status, 0);
    // The one line --log added carries the result and keeps the chain.
    const std::string logged = ReadFile(archive + "/audit.log");
    ASSERT_EQ(logged.substr(0, log.size()), log);
    EXPECT_NE(logged.find("\"event\": \"verified\", \"capture\": \"run\", \"result\": \"faults\"",
                          log.size()),
              std::string::npos)
        << logged;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 3);
    EXPECT_EQ(Zavprint({"verify", archive + "/next"}).status, 0);
}

TEST_F(RecordCli, KeygenMakesAnOwnerOnlyKeyAndNeverOverwrites) {
    umask(0);
    Result r = Zavprint({"keygen", Path("lab.key")});
    umask(022);
    EXPECT_EQ(r.status, 0) << r.out;
    struct stat status {};
    ASSERT_EQ(stat(Path("lab.key").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string key = ReadFile(Path("lab.key"));
    r = Zavprint({"keygen", Path("lab.key")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nothing was overwritten"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(Path("lab.key")), key);

    // A signed archive checks with the public key, and not without a signature.
    const std::string archive = Path("archive");
    std::filesystem::create_directory(archive);
    zav::record::SigningKey signing;
    ASSERT_EQ(zav::record::LoadSigningKey(Path("lab.key"), signing), zav::record::kKeyOk);
    ASSERT_EQ(zavtest::MakeCapture(archive + "/run", 1, 1, &signing), zav::record::kRecordOk);
    EXPECT_EQ(Zavprint({"verify", "--key", Path("lab.key.pub"), archive}).status, 0);
    ASSERT_EQ(zavtest::MakeCapture(archive + "/plain", 1, 2), zav::record::kRecordOk);
    r = Zavprint({"verify", "--key=" + Path("lab.key.pub"), archive});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("unsigned: plain.record.json"), std::string::npos) << r.out;
}

} // namespace
