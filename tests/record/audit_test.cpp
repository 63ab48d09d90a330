// The audit log's chain holds when several processes and threads append at
// once, and a line cut off by a crash is named while the chain goes on.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "record/verify.h"
#include "record_test_support.h"

namespace {

using namespace zav::record;
using zavtest::ReadFile;
using zavtest::WriteFile;

class AuditLog : public zavtest::RecordFolder {
  protected:
    // Every line in the log, checked link by link; the numbers each writer
    // wrote, in the order they are in the log.
    std::map<std::string, std::vector<std::uint64_t>> Writers() {
        const VerifyReport report = VerifyFolder(dir_.string(), {});
        for (const Fault& fault : report.faults)
            ADD_FAILURE() << fault.where << ": " << fault.text;
        std::vector<AuditLine> lines;
        std::string error;
        EXPECT_TRUE(ReadAuditLog(dir_.string(), lines, error)) << error;
        std::map<std::string, std::vector<std::uint64_t>> numbers;
        for (const AuditLine& line : lines) {
            std::uint64_t n = 0;
            EXPECT_TRUE(line.wellFormed && line.body.Find("n")->ToUint64(n)) << line.text;
            numbers[std::string(line.Capture())].push_back(n);
        }
        return numbers;
    }
    static std::vector<std::uint64_t> Count(std::uint64_t n) {
        std::vector<std::uint64_t> all(n);
        for (std::uint64_t i = 0; i < n; ++i)
            all[i] = i;
        return all;
    }
};

TEST_F(AuditLog, TwoProcessesAppendingAtOnceKeepTheChain) {
    constexpr int kLines = 2000;
    const std::string count = std::to_string(kLines);
    const std::string folder = dir_.string();
#ifdef _WIN32
    intptr_t writers[2];
    for (int i = 0; i < 2; ++i) {
        const std::string tag = "w" + std::to_string(i);
        const char* args[] = {AUDIT_WRITER, folder.c_str(), tag.c_str(), count.c_str(), nullptr};
        writers[i] = _spawnv(_P_NOWAIT, AUDIT_WRITER, args);
        ASSERT_NE(writers[i], -1);
    }
    for (intptr_t writer : writers) {
        int status = -1;
        _cwait(&status, writer, 0);
        EXPECT_EQ(status, 0);
    }
#else
    pid_t writers[2];
    for (int i = 0; i < 2; ++i) {
        const std::string tag = "w" + std::to_string(i);
        writers[i] = fork();
        if (writers[i] == 0) {
            execl(AUDIT_WRITER, AUDIT_WRITER, folder.c_str(), tag.c_str(), count.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(writers[i], 0);
    }
    for (pid_t writer : writers) {
        int status = -1;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif
    const auto numbers = Writers();
    EXPECT_EQ(numbers.at("w0"), Count(kLines));
    EXPECT_EQ(numbers.at("w1"), Count(kLines));
}

TEST_F(AuditLog, ThreadsOfOneProcessTakeTurns) {
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([this, t] {
            const Identity who{"c", "u", "p"};
            for (int i = 0; i < kLines; ++i) {
                AuditEvent event{"test", "t" + std::to_string(t)};
                event.details.Add("n", Json::Number(static_cast<std::uint64_t>(i)));
                EXPECT_EQ(AppendAuditEvent(dir_.string(), event, who, nullptr), kAuditOk);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const auto numbers = Writers();
    for (const char* tag : {"t0", "t1", "t2"})
        EXPECT_EQ(numbers.at(tag), Count(kLines));
}

TEST_F(AuditLog, LineCutOffByACrashIsNamedAndTheChainGoesOn) {
    const Identity who{"c", "u", "p"};
    AuditEvent event{"test", "x"};
    event.details.Add("n", Json::Number(0));
    ASSERT_EQ(AppendAuditEvent(dir_.string(), event, who, nullptr), kAuditOk);
    std::string log = ReadFile(Path("audit.log"));
    WriteFile(Path("audit.log"), log + log.substr(0, 40));
    ASSERT_EQ(AppendAuditEvent(dir_.string(), event, who, nullptr), kAuditOk);
    const VerifyReport report = VerifyFolder(dir_.string(), {});
    ASSERT_EQ(report.faults.size(), 1u);
    EXPECT_EQ(report.faults[0].kind, FaultKind::BadLine);
    EXPECT_EQ(report.faults[0].where, "audit.log line 2");
    EXPECT_EQ(report.logLines, 3u);
}

} // namespace
