// The record of a capture as other tools read it: sha256sum -c checks its
// .sha256, openssl checks its signatures, and a record never claims a file
// that was not written whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "base/capture_names.h"
#include "record/json.h"
#include "record_test_support.h"

namespace {

using namespace zav::record;
using zavtest::Bytes;
namespace fs = std::filesystem;
using zavtest::ReadFile;
using zavtest::WriteFile;
using zavtest::WriteRecorded;

class Record : public zavtest::RecordFolder {};

TEST(RecordHash, StreamedInPiecesAsInOneAndAsPublished) {
    // FIPS 180-2's example "abc", fed in pieces as a read loop would.
    Sha256 hash;
    hash.Update("a");
    hash.Update("", 0);
    hash.Update("bc");
    EXPECT_EQ(ToHex(hash.Finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(ToHex(hash.Finish()), ToHex(Sha256Of("")));
    const std::string big = Bytes(1 << 20, 1);
    std::size_t at = 0;
    for (std::size_t piece = 1; at < big.size(); piece = piece * 3 + 1) {
        const std::size_t n = std::min(piece, big.size() - at);
        hash.Update(big.data() + at, n);
        at += n;
    }
    EXPECT_EQ(hash.Finish(), Sha256Of(big));
}

TEST(RecordJson, StringsAndNumbersComeBackAsWritten) {
    const std::string odd =
        std::string("quote\" back\\ nl\n cr\r tab\t nul") + '\0' + " \x1f del\x7f \xc3\xa4 \xff";
    Json object = Json::Object();
    object.Add("s", Json::String(odd)).Add("n", Json::Number(18446744073709551615u));
    object.Add("a", Json::Array().Push(Json::Bool(true)).Push(Json::Bool(false)).Push(Json()));
    for (bool multiline : {false, true}) {
        const std::string text = ToJson(object, multiline);
        EXPECT_EQ(text.find('\n') == std::string::npos, !multiline) << text;
        Json back;
        ASSERT_TRUE(ParseJson(text, back)) << text;
        ASSERT_TRUE(back.Find("s") && back.Find("s")->Text());
        EXPECT_EQ(*back.Find("s")->Text(), odd);
        std::uint64_t n = 0;
        EXPECT_TRUE(back.Find("n")->ToUint64(n));
        EXPECT_EQ(n, 18446744073709551615u);
        ASSERT_EQ(back.Find("a")->Items().size(), 3u);
        EXPECT_TRUE(back.Find("a")->Items()[0].IsTrue());
    }
    Json ignored;
    EXPECT_TRUE(ParseJson(R"( {"u": "\u00e4\ud83d\ude00"} )", ignored));
    EXPECT_EQ(*ignored.Find("u")->Text(), "\xc3\xa4\xf0\x9f\x98\x80");
    for (const char* bad :
         {"", "{", "{\"a\" 1}", "[1,]", "01", "1.5", "\"\\ud800\"", "\"a\nb\"", "{} {}",
          "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"})
        EXPECT_FALSE(ParseJson(bad, ignored)) << bad;
}

#ifndef _WIN32
// sha256sum, coreutils' own checker, accepts every line, also of names that
// need its escapes, and the blocks of a file written from its end are hashed
// in file order.
TEST_F(Record, Sha256sumChecksTheChecksumFile) {
    const std::string base = Base("odd name\\with\nescapes");
    ASSERT_EQ(zavtest::MakeCapture(base, 3, 7), kRecordOk);
    const std::string sums = ReadFile(zav::CaptureNames(base).Checksums());
    EXPECT_EQ(std::count(sums.begin(), sums.end(), '\n'), 7) << sums;
    EXPECT_EQ(sums[0], '\\');
    const std::string check = "cd '" + dir_.string() + "' && sha256sum --quiet --strict -c ";
    // The checksum file's own name has the escapes too: pass it by a link.
    std::filesystem::create_symlink(zav::CaptureNames(base).Checksums(), Path("sums"));
    EXPECT_EQ(std::system((check + "sums").c_str()), 0);
    std::string bitmap = ReadFile(base + "002.bmp");
    bitmap[9000] ^= 1;
    WriteFile(base + "002.bmp", bitmap);
    EXPECT_NE(std::system((check + "sums 2>/dev/null >/dev/null").c_str()), 0);

    std::vector<SumsEntry> entries;
    ASSERT_TRUE(ParseSums(sums, entries, nullptr));
    EXPECT_EQ(entries[0].name, "odd name\\with\nescapes.html");
    // Binary-mode lines read too; a line that is none is named.
    const std::string hash = ToHex(Sha256Of("x"));
    std::size_t bad = 0;
    ASSERT_TRUE(ParseSums(hash + " *a b\n", entries, &bad));
    EXPECT_EQ(entries[0].name, "a b");
    EXPECT_FALSE(ParseSums(hash + "  a\n" + hash + " a\n", entries, &bad));
    EXPECT_EQ(bad, 2u);
}

// openssl, an Ed25519 of its own, accepts the signatures.
TEST_F(Record, OpensslChecksTheSignatures) {
    if (std::system("openssl version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no openssl";
    SigningKey key;
    ASSERT_TRUE(key.Generate());
    const std::string message = Bytes(1000, 3);
    Signature signature{};
    ASSERT_TRUE(key.Sign(message, signature));
    // The public key as DER: the SubjectPublicKeyInfo prefix of Ed25519.
    std::string der = "\x30\x2a\x30\x05\x06\x03\x2b\x65\x70\x03\x21";
    der += '\0';
    der.append(reinterpret_cast<const char*>(key.Public().data()), 32);
    WriteFile(Path("pub.der"), der);
    WriteFile(Path("message"), message);
    WriteFile(Path("sig"), std::string(reinterpret_cast<const char*>(signature.data()), 64));
    const std::string verify = "cd '" + dir_.string() +
                               "' && openssl pkeyutl -verify -pubin -keyform DER -inkey pub.der "
                               "-rawin -in message -sigfile sig >/dev/null 2>&1";
    EXPECT_EQ(std::system(verify.c_str()), 0);
    signature[5] ^= 1;
    WriteFile(Path("sig"), std::string(reinterpret_cast<const char*>(signature.data()), 64));
    EXPECT_NE(std::system(verify.c_str()), 0);
}
#endif

TEST_F(Record, KeyFilesAreNewOwnerOnlyAndSign) {
    const std::string path = Path("lab.key");
#ifndef _WIN32
    const mode_t old = umask(0);
#endif
    PublicKey made{};
    ASSERT_EQ(WriteKeyPair(path, &made), kKeyOk);
#ifndef _WIN32
    umask(old);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
    SigningKey key;
    PublicKey loaded{};
    ASSERT_EQ(LoadSigningKey(path, key), kKeyOk);
    ASSERT_EQ(LoadPublicKey(path + ".pub", loaded), kKeyOk);
    EXPECT_EQ(key.Public(), made);
    EXPECT_EQ(loaded, made);
    Signature signature{};
    ASSERT_TRUE(key.Sign("record", signature));
    EXPECT_TRUE(VerifySignature(loaded, "record", signature));
    EXPECT_FALSE(VerifySignature(loaded, "recorc", signature));

    // Never over an existing file: neither the key nor its public half.
    const std::string before = ReadFile(path);
    std::string failed;
    EXPECT_EQ(WriteKeyPair(path, nullptr, &failed), kKeyExists);
    EXPECT_EQ(failed, path);
    EXPECT_EQ(ReadFile(path), before);
    WriteFile(Path("other.key.pub"), "mine");
    EXPECT_EQ(WriteKeyPair(Path("other.key"), nullptr, &failed), kKeyExists);
    EXPECT_EQ(failed, Path("other.key.pub"));
    EXPECT_FALSE(fs::exists(Path("other.key")));
    EXPECT_EQ(ReadFile(Path("other.key.pub")), "mine");
    EXPECT_EQ(LoadSigningKey(path + ".pub", key), kKeyMalformed);
}

// Files written at once by several threads, more than the hashing thread
// holds waiting, in pieces of every size: each is hashed whole and in order.
TEST_F(Record, FilesWrittenAtOnceFromSeveralThreadsAreHashedWhole) {
    const std::string base = Base("busy");
    CaptureRecord record(base, LocalIdentity("zavprint test"), {});
    std::vector<std::string> names, contents;
    for (unsigned i = 0; i < 48; ++i) {
        names.push_back(base + std::to_string(100 + i) + (i % 2 ? ".bmp" : ".cpt"));
        contents.push_back(Bytes((3u << 19) + i * 977, i));
    }
    auto writer = [&](unsigned first) {
        for (unsigned i = first; i < names.size(); i += 2)
            WriteRecorded(record, names[i], contents[i], i % 3 ? 100 + i : 256 * 1024, i % 2);
    };
    std::thread other(writer, 1);
    writer(0);
    other.join();
    ASSERT_EQ(record.Write(nullptr), kRecordOk);
    std::string sums;
    for (std::size_t i = 0; i < names.size(); ++i)
        sums += SumsLine(Sha256Of(contents[i]), fs::path(names[i]).filename().string());
    EXPECT_EQ(ReadFile(zav::CaptureNames(base).Checksums()), sums);
}

// A capture cut short: only files written whole are listed, and the record
// and the audit line say what is missing.
TEST_F(Record, CutShortCaptureClaimsOnlyWholeFiles) {
    const std::string base = Base("cut");
    CaptureRecord record(base, LocalIdentity("zavprint test"), {});
    record.Received("\x1b@page", 6);
    WriteRecorded(record, base + "001.cpt", "page one");
    WriteRecorded(record, base + "001.bmp", "bitmap one, gone later");
    fs::remove(base + "001.bmp");
    RecordedFile& failed = record.Track(base + "002.cpt");
    failed.Written("pa", 2);
    failed.Closed(false);
    RecordedFile& unfinished = record.Track(base + "002.bmp");
    unfinished.Written("bm", 2);
    RecordedFile& twice = record.Track(base + "003.bmp");
    twice.Written(0, "abcd", 4);
    twice.Written(0, "ab", 2);
    WriteFile(base + "003.bmp", "abcd");
    twice.Closed(true);
    WriteFile(base + ".raw", "\x1b@page"); // the recording kept whole
    record.AddReceivedFile(base + ".raw");
    record.AddMissing(base + ".html", "the disk is full");
    record.Failed("Cannot write capture file");
    ASSERT_EQ(record.Write(nullptr), kRecordOk);

    EXPECT_EQ(ReadFile(zav::CaptureNames(base).Checksums()),
              SumsLine(Sha256Of("\x1b@page"), "cut.raw") +
                  SumsLine(Sha256Of("page one"), "cut001.cpt")); // the whole files
    Json json;
    ASSERT_TRUE(ParseJson(ReadFile(zav::CaptureNames(base).Record()), json));
    EXPECT_FALSE(json.Find("complete")->IsTrue());
    EXPECT_EQ(*json.Find("failure")->Text(), "Cannot write capture file");
    EXPECT_EQ(*json.Find("received")->Find("sha256")->Text(), ToHex(Sha256Of("\x1b@page")));
    std::vector<std::string> missing;
    for (const Json& file : json.Find("missing")->Items())
        missing.push_back(*file.Find("name")->Text());
    EXPECT_EQ(missing, (std::vector<std::string>{"cut.html", "cut001.bmp", "cut002.bmp",
                                                 "cut002.cpt", "cut003.bmp"}));
    std::vector<AuditLine> lines;
    std::string error;
    ASSERT_TRUE(ReadAuditLog(dir_.string(), lines, error));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Event(), "failed");
    EXPECT_EQ(*lines[0].body.Find("record")->Text(), ToHex(record.RecordDigest()));
}

// A step that fails is reported and the log says so; nothing half-written
// stays behind.
TEST_F(Record, FailuresToWriteAreReportedNeverSilent) {
    const std::string base = Base("run");
    fs::create_directories(zav::CaptureNames(base).Record() + "/in the way");
    CaptureRecord record(base, LocalIdentity("zavprint test"), {});
    WriteRecorded(record, base + ".html", "<html></html>");
    std::string error;
    EXPECT_EQ(record.Write(nullptr, &error), kRecordCannotWriteRecord);
    EXPECT_NE(error.find("run.record.json"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(zav::CaptureNames(base).Checksums()),
              SumsLine(Sha256Of("<html></html>"), "run.html"));
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    std::vector<AuditLine> lines;
    ASSERT_TRUE(ReadAuditLog(dir_.string(), lines, error));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Event(), "failed");
    EXPECT_EQ(lines[0].body.Find("record"), nullptr);
    EXPECT_EQ(lines[0].body.Find("why")->Text()->rfind("no record: ", 0), 0u);

    // An audit log that cannot be appended to fails the record.
    fs::remove(Path("audit.log"));
    fs::create_directory(Path("audit.log"));
    CaptureRecord next(Base("next"), LocalIdentity("zavprint test"), {});
    EXPECT_EQ(next.Write(nullptr, &error), kRecordCannotLog);
    EXPECT_TRUE(fs::exists(zav::CaptureNames(Base("next")).Record()));
}

} // namespace
