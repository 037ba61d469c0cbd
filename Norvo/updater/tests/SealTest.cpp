#include <gtest/gtest.h>

#include "UpdaterTestSupport.hpp"
#include "updater/Minisign.hpp"
#include "updater/SelfUpdater.hpp"
#include "updater/ZipExtractor.hpp"

using namespace norvo;
namespace fs = std::filesystem;
using norvo::testing::TempFolder;

namespace {

// A released bundle, unpacked, ready to be tampered with.
fs::path releasedBundle(const TempFolder& tmp, const std::string& version = "2.0") {
    norvo::testing::makeApp(tmp.path() / "src", version, tmp.path() / "launched");
    norvo::testing::release(tmp.path() / "src" / "Norvo.app", version, tmp.path() / "out");
    norvo::testing::unzip(tmp.path() / "out" / ("Norvo-" + version + ".zip"), tmp.path() / "unpacked");
    return tmp.path() / "unpacked" / "Norvo.app";
}

}  // namespace

TEST(Minisign, SignatureChecks) {
    TempFolder tmp;
    const auto msg = tmp.path() / "message";
    norvo::testing::writeFile(msg, "norvo-seal 1\nversion 2.0\n");
    norvo::testing::run({"minisign", "-S", "-s", std::string(NORVO_TEST_KEYS) + "/test-minisign.key", "-m",
                         msg.string(), "-t", "trusted words"});
    const std::string sig = norvo::testing::readText(tmp.path() / "message.minisig");
    const std::string key = norvo::testing::testPublicKey();
    const std::string text = norvo::testing::readText(msg);
    ASSERT_TRUE(Minisign::verify(text, sig, key));

    auto replaceLine = [&](int n, const std::string& with) {
        std::istringstream in(sig);
        std::string out, line;
        for (int i = 0; std::getline(in, line); ++i) out += (i == n ? with : line) + "\n";
        return out;
    };
    EXPECT_TRUE(Minisign::verify(text, replaceLine(0, "untrusted comment: edited"), key));
    std::string crlf;
    for (char c : sig) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(Minisign::verify(text, crlf, key));

    EXPECT_FALSE(Minisign::verify(text + " ", sig, key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(2, "trusted comment: trusted wordz"), key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(1, "RWQ="), key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(1, "not base64 at all!"), key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(2, "trusted comment: " + std::string(9000, 'x')), key));
    EXPECT_FALSE(Minisign::verify(text, sig.substr(0, sig.find("trusted comment")), key));
    EXPECT_FALSE(Minisign::verify(text, "", key));
    // Nothing may follow the fourth line but its line feed; an empty base64 line is no
    // signature (and never reaches libsodium as a null buffer).
    EXPECT_FALSE(Minisign::verify(text, sig + "extra\n", key));
    EXPECT_FALSE(Minisign::verify(text, sig + "\n", key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(1, ""), key));
    EXPECT_FALSE(Minisign::verify(text, replaceLine(3, ""), key));

    // Another key; and the legacy, un-prehashed form, even from the right key.
    norvo::testing::run({"minisign", "-G", "-W", "-p", (tmp.path() / "other.pub").string(), "-s",
                         (tmp.path() / "other.key").string()});
    EXPECT_FALSE(Minisign::verify(text, sig, norvo::testing::testPublicKey((tmp.path() / "other.pub").string())));
    norvo::testing::run({"minisign", "-S", "-l", "-s", std::string(NORVO_TEST_KEYS) + "/test-minisign.key", "-m",
                         msg.string(), "-x", (tmp.path() / "legacy.minisig").string()});
    EXPECT_FALSE(Minisign::verify(text, norvo::testing::readText(tmp.path() / "legacy.minisig"), key));
}

TEST(BundleSeal, EveryChangeBreaksTheSeal) {
    TempFolder tmp;
    const fs::path bundle = releasedBundle(tmp);
    const std::string key = norvo::testing::testPublicKey();
    EXPECT_EQ(SelfUpdater::verifySignature(bundle, key), "2.0");

    auto expectBroken = [&](const char* what, auto change, auto undo) {
        change();
        EXPECT_THROW(SelfUpdater::verifySignature(bundle, key), UpdateFailure) << what;
        undo();
        EXPECT_EQ(SelfUpdater::verifySignature(bundle, key), "2.0") << "after undoing " << what;
    };
    const fs::path page = bundle / "Norvo_Norvo.bundle" / "carder" / "host.html";
    const std::string original = norvo::testing::readText(page);
    expectBroken("one changed byte", [&] { norvo::testing::writeFile(page, "<p>2.1</p>"); },
                 [&] { norvo::testing::writeFile(page, original); });
    expectBroken("an added file", [&] { norvo::testing::writeFile(bundle / "extra.so", "x"); },
                 [&] { fs::remove(bundle / "extra.so"); });
    expectBroken("a removed file", [&] { fs::rename(page, tmp.path() / "kept"); },
                 [&] { fs::rename(tmp.path() / "kept", page); });
    expectBroken("a changed mode", [&] { fs::permissions(page, fs::perms(0755)); },
                 [&] { fs::permissions(page, fs::perms(0644)); });
    expectBroken("a symbolic link", [&] { fs::create_symlink("/etc/passwd", bundle / "link"); },
                 [&] { fs::remove(bundle / "link"); });
    expectBroken("a pipe", [&] { mkfifo((bundle / "pipe").c_str(), 0644); }, [&] { fs::remove(bundle / "pipe"); });
    const fs::path sig = bundle / BundleSeal::kSignatureFile;
    expectBroken("no signature", [&] { fs::rename(sig, tmp.path() / "sig"); },
                 [&] { fs::rename(tmp.path() / "sig", sig); });
    // A seal that lists a file twice or out of order, or an odd path or mode, does not parse.
    const std::string file = "file " + std::string(64, 'a');
    const std::string bad[] = {" 0644 b\n" + file + " 0644 a", " 0644 ../x", " 4755 x", " 0644 a\rb",
                               " 0644 a\x1b[2Jb"};
    for (const std::string& files : bad)
        EXPECT_FALSE(BundleSeal::parse("norvo-seal 1\nversion 1\n" + file + files + "\n")) << files;
    EXPECT_TRUE(BundleSeal::parse("norvo-seal 1\nversion 1\n" + file + " 0644 a b\n"));

    // A validly signed bundle that cannot start (no executable "norvo") is no update.
    // (The release tool refuses to make one, so the seal is rewritten and signed by hand.)
    fs::remove(bundle / "norvo");
    std::istringstream lines(norvo::testing::readText(bundle / BundleSeal::kSealFile));
    std::string resealed;
    for (std::string line; std::getline(lines, line);)
        if (line.size() < 6 || line.substr(line.size() - 6) != " norvo") resealed += line + "\n";
    norvo::testing::writeFile(bundle / BundleSeal::kSealFile, resealed);
    norvo::testing::run({"minisign", "-S", "-s", std::string(NORVO_TEST_KEYS) + "/test-minisign.key", "-m",
                         (bundle / BundleSeal::kSealFile).string(), "-x", sig.string()});
    ASSERT_TRUE(Minisign::verify(resealed, norvo::testing::readText(sig), key));
    EXPECT_THROW(SelfUpdater::verifySignature(bundle, key), UpdateFailure);
}

TEST(ZipExtractor, RefusesWhatCouldEscapeOrDeceive) {
    TempFolder tmp;
    for (const char* kind : {"dotdot", "absolute", "symlink", "duplicate"}) {
        const auto zip = tmp.path() / (std::string(kind) + ".zip");
        norvo::testing::run({"python3", NORVO_TEST_ZIP_TOOL, "evil", kind, zip.string()});
        EXPECT_FALSE(ZipExtractor::extract(zip, tmp.path() / (std::string(kind) + "-out"))) << kind;
    }
    EXPECT_FALSE(fs::exists(tmp.path() / "escaped"));
    EXPECT_FALSE(fs::exists("/tmp/norvo-absolute-escape"));

    norvo::testing::writeFile(tmp.path() / "text.zip", "this is not a zip");
    EXPECT_FALSE(ZipExtractor::extract(tmp.path() / "text.zip", tmp.path() / "text-out"));

    // A well-formed archive unpacks with clean modes; the limits hold.
    fs::create_directories(tmp.path() / "tree" / "A.app" / "sub");
    norvo::testing::writeFile(tmp.path() / "tree" / "A.app" / "sub" / "f", std::string(4096, 'z'));
    norvo::testing::writeFile(tmp.path() / "tree" / "A.app" / "run", "#!/bin/sh\n");
    fs::permissions(tmp.path() / "tree" / "A.app" / "run", fs::perms(0775));
    norvo::testing::zipFolder(tmp.path() / "tree", tmp.path() / "good.zip");
    ASSERT_TRUE(ZipExtractor::extract(tmp.path() / "good.zip", tmp.path() / "good-out"));
    EXPECT_EQ(fs::status(tmp.path() / "good-out" / "A.app" / "run").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::file_size(tmp.path() / "good-out" / "A.app" / "sub" / "f"), 4096u);
    EXPECT_FALSE(ZipExtractor::extract(tmp.path() / "good.zip", tmp.path() / "small-out", {1000, 100}));
    EXPECT_FALSE(ZipExtractor::extract(tmp.path() / "good.zip", tmp.path() / "few-out", {1u << 20, 2}));
}
