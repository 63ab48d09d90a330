// The write path every output takes: whole files under their names or none,
// earlier files kept until the new ones are whole, a name held by one
// process at a time, and every byte shown to the observer.
#include "base/output_file.h"

#include <algorithm>
#include <map>

#include "../capture/capture_test_support.h"

namespace {

namespace fs = zavtest::fs;

using OutputFileTest = zavtest::CaptureFolderTest;

// Keeps the bytes of every output in file order, as a hash of them would.
class Recorder : public zav::OutputObserver {
  public:
    struct Tap : zav::OutputTap {
        Tap(Recorder& owner, std::string target) : owner(owner), target(std::move(target)) {}
        void Written(std::uint64_t offset, const void* data, std::size_t size) override {
            std::string& bytes = owner.bytes[target];
            if (bytes.size() < offset + size)
                bytes.resize(offset + size);
            bytes.replace(offset, size, static_cast<const char*>(data), size);
        }
        void Closed(bool whole) override { owner.whole[target] = whole; }
        Recorder& owner;
        std::string target;
    };
    std::unique_ptr<zav::OutputTap> Opened(const std::string& target) override {
        return std::make_unique<Tap>(*this, target);
    }
    std::map<std::string, std::string> bytes;
    std::map<std::string, bool> whole;
};

TEST_F(OutputFileTest, TakesItsNameOnlyWhole) {
    Recorder recorder;
    zav::SetOutputObserver(&recorder);
    Write(Path("page.bmp"), "earlier");
    {
        zav::OutputFile out(Path("page.bmp"));
        ASSERT_TRUE(out.WriteAt(4, "tail", 4));
        ASSERT_TRUE(out.WriteAt(0, "head", 4));
        ASSERT_TRUE(out.Write("+more", 5));
        EXPECT_EQ(Read(Path("page.bmp")), "earlier");
        EXPECT_EQ(Files().size(), 2u) << "the work file lies beside it";
        EXPECT_TRUE(zav::IsWorkFileName(fs::path(out.WorkPath()).filename().string()));
        ASSERT_TRUE(out.Commit());
    }
    EXPECT_EQ(Read(Path("page.bmp")), "headtail+more");
    EXPECT_EQ(recorder.bytes[Path("page.bmp")], "headtail+more");
    EXPECT_TRUE(recorder.whole[Path("page.bmp")]);

    // Abandoned, or ended without a commit: only the earlier file is left.
    {
        zav::OutputFile out(Path("page.bmp"));
        out.Write("new", 3);
    }
    EXPECT_FALSE(recorder.whole[Path("page.bmp")]);
    // Never over a file that must stay, nor over a folder.
    zav::OutputFile kept(Path("page.bmp"));
    kept.Write("x", 1);
    EXPECT_FALSE(kept.Commit({Path("page.bmp")}));
    fs::create_directory(Path("box"));
    zav::OutputFile box(Path("box"));
    EXPECT_FALSE(box.Commit());
    EXPECT_FALSE(box.Error().text.empty());
    zav::SetOutputObserver(nullptr);
    EXPECT_EQ(Files(), (std::vector<std::string>{"box", "page.bmp"}));
    EXPECT_EQ(Read(Path("page.bmp")), "headtail+more");
}

#ifndef _WIN32
// A file-size limit is a failed write with its reason, like a full disk.
TEST_F(OutputFileTest, FileSizeLimitFailsTheWrite) {
    Write(Path("run.pdf"), "earlier");
    zav::OutputFile out(Path("run.pdf"));
    bool committed = true;
    {
        zavtest::FileSizeLimit limit(100000);
        const std::string block(30000, 'x');
        bool written = true;
        for (int i = 0; i < 5 && written; ++i)
            written = out.Write(block.data(), block.size());
        committed = out.Commit();
    }
    EXPECT_FALSE(committed);
    EXPECT_EQ(out.Error().text, "File too large");
    EXPECT_EQ(Files(), std::vector<std::string>{"run.pdf"});
    EXPECT_EQ(Read(Path("run.pdf")), "earlier");
}
#endif

// A batch puts all its files in place and removes the earlier ones it
// replaces, or changes nothing.
TEST_F(OutputFileTest, BatchIsPutInPlaceWholeOrNotAtAll) {
    Write(Path("run001.cpt"), "old 1");
    Write(Path("run.tmp"), "recording");
    Write(Path("copy.raw"), "copy");
    const auto batch = [&] {
        zav::OutputBatch files;
        files.Add(Path("run001.cpt")).Write("new 1", 5);
        files.AddExisting(Path("run.tmp"), Path("run.cpt"));
        files.Replace(Path("run001.cpt"));
        files.Replace(Path("run002.cpt"));
        files.Keep(Path("copy.raw"));
        return files.Commit();
    };
    const auto unchanged = [&] {
        EXPECT_EQ(Read(Path("run001.cpt")), "old 1");
        EXPECT_EQ(Read(Path("run.tmp")), "recording");
        EXPECT_EQ(Read(Path("copy.raw")), "copy");
    };
    // A file the batch was not told to replace is in the way.
    Write(Path("run.cpt"), "someone's");
    EXPECT_FALSE(batch());
    unchanged();
    fs::remove(Path("run.cpt"));
    // An earlier file that is another name of one that must stay.
    fs::create_hard_link(Path("copy.raw"), Path("run002.cpt"));
    EXPECT_FALSE(batch());
    unchanged();
    fs::remove(Path("run002.cpt"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"copy.raw", "run.tmp", "run001.cpt"}));

    Write(Path("run002.cpt"), "old 2");
    ASSERT_TRUE(batch());
    EXPECT_EQ(Files(), (std::vector<std::string>{"copy.raw", "run.cpt", "run001.cpt"}));
    EXPECT_EQ(Read(Path("run001.cpt")), "new 1");
    EXPECT_EQ(Read(Path("run.cpt")), "recording");

    // A move that fails after others were made: every one is moved back.
    zav::OutputBatch late;
    late.Add(Path("run001.cpt")).Write("newer", 5);
    late.Replace(Path("run001.cpt"));
    late.AddExisting(Path("gone.raw"), Path("run.bmp"));
    EXPECT_FALSE(late.Commit());
    EXPECT_EQ(late.FailedFile(), Path("run.bmp"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"copy.raw", "run.cpt", "run001.cpt"}));
    EXPECT_EQ(Read(Path("run001.cpt")), "new 1");
}

// Of two holders of a name only one at a time; a claim file put there by
// someone else is not removed by letting go.
TEST_F(OutputFileTest, NameIsHeldByOneAtATime) {
    zav::NameClaim first, second;
    ASSERT_EQ(first.Take(Path("run.claim")), zav::NameClaim::kClaimed);
    EXPECT_NE(Read(Path("run.claim")).find("held by process "), std::string::npos);
    EXPECT_EQ(second.Take(Path("run.claim")), zav::NameClaim::kTaken);
    first.Release();
    EXPECT_EQ(second.Take(Path("run.claim")), zav::NameClaim::kClaimed);
    fs::remove(Path("run.claim"));
    Write(Path("run.claim"), "another holder");
    second.Release();
    EXPECT_EQ(Read(Path("run.claim")), "another holder");
    EXPECT_EQ(first.Take(Path("no/such/folder.claim")), zav::NameClaim::kFailed);
}

} // namespace
