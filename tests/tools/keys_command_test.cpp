// qmsock keygen / fingerprint, driven in-process with real files; on Linux keygen also runs as
// the built executable in a pipe, where its output must be the three bare lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "command.h"
#include "crypto/base64.h"
#include "crypto/rsa.h"

namespace qm::tool {
namespace {

namespace fs = std::filesystem;

// A 1024-bit public key text (modulus from `openssl genrsa 1024`) and its fingerprint as
// Python's hashlib gives it.
const char kPublicText[] =
    "naluVOQ0iXiIQjIX7afAFaeiD68G0+/8ULS8C7Eh8lFp/SG8q2445QCrD3fGQVMtdm6citHwNTsFmhK/"
    "TXDZibS6hPTY1F4AsNv9ndhRkzZLXN3"
    "xq/9dLLYZpXxcs4OBTXBRnhoyIjYJ8ESnXqE7MqwjW5nksHcNA3RVZCyRknc=";
const char kFingerprint[] = "KN+0I+uP7QB6dt43GEJ0bg==";

struct Result {
    int code;
    std::string out, err;
};

class KeysCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device entropy;
        dir_ = fs::temp_directory_path() / ("qmsock-keys-" + std::to_string(entropy()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static Result Tool(std::vector<std::string> words) {
        words.insert(words.begin(), "qmsock");
        std::vector<std::string_view> argv(words.begin(), words.end());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int code = RunTool(argv);
        Result r{code, ::testing::internal::GetCapturedStdout(), ::testing::internal::GetCapturedStderr()};
        return r;
    }
    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream f(path, std::ios::binary);
        f << text;
    }

    fs::path dir_;
};

TEST_F(KeysCommand, KeygenWritesWorkingKeyFiles) {
    const Result r =
        Tool({"keygen", "--public-key-file", Path("pub.txt"), "--private-key-file=" + Path("priv.txt")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "") << "no progress when standard error is not a terminal";

    const std::string pubText = Read(Path("pub.txt")), privText = Read(Path("priv.txt"));
    ASSERT_FALSE(pubText.empty());
    ASSERT_EQ(pubText.back(), '\n');
    ASSERT_EQ(privText.back(), '\n');
    const std::string pub = Base64Decode(pubText.substr(0, pubText.size() - 1));
    const std::string priv = Base64Decode(privText.substr(0, privText.size() - 1));
    EXPECT_TRUE(KeypairSelfTest(pub, priv));
    // Only the fingerprint is printed when both keys went to files.
    EXPECT_EQ(r.out, TakeFingerprint(Base64Encode(pub)) + "\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 2u) << "no temporary file left behind";
#ifndef _WIN32
    EXPECT_EQ(fs::status(Path("priv.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif

    // The fingerprint command reads the same file back.
    const Result f = Tool({"fingerprint", "--file", Path("pub.txt")});
    EXPECT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.out, r.out);
}

TEST_F(KeysCommand, FingerprintOfTextAndFile) {
    Result r = Tool({"fingerprint", kPublicText});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string(kFingerprint) + "\n");

    Write(Path("key"), std::string("  ") + kPublicText + "\r\n");
    r = Tool({"fingerprint", "--file=" + Path("key")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kFingerprint) + "\n");

    Write(Path("junk"), "not base64");
    r = Tool({"fingerprint", "--file", Path("junk")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("junk"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    r = Tool({"fingerprint", "--file", Path("missing")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos) << r.err;
}

// Every bad argument is refused with status 2 and named in the message.
TEST_F(KeysCommand, BadArgumentsAreNamed) {
    struct Case {
        std::vector<std::string> words;
        const char* named;
    };
    const Case cases[] = {
        {{"fingerprint"}, "no key text"},
        {{"fingerprint", "abc"}, "'abc'"},
        {{"fingerprint", "--colour"}, "'--colour'"},
        {{"fingerprint", "--file"}, "'--file'"},
        {{"fingerprint", kPublicText, "--file", "x"}, "not both"},
        {{"fingerprint", kPublicText, "extra"}, "'extra'"},
        {{"keygen", "--bits", "2048"}, "'--bits'"},
        {{"keygen", "now"}, "'now'"},
        {{"keygen", "--public-key-file"}, "'--public-key-file'"},
        {{"keygen", "--private-key-file="}, "'--private-key-file'"},
        {{"keygen", "--public-key-file", "same", "--private-key-file", "same"}, "'same'"},
    };
    for (const Case& c : cases) {
        const Result r = Tool(c.words);
        EXPECT_EQ(r.code, 2) << c.words[0] << " " << c.named;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(KeysCommand, HelpForBothCommands) {
    for (const char* command : {"keygen", "fingerprint"}) {
        const Result r = Tool({command, "--help"});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind(std::string("usage: qmsock ") + command, 0), 0u) << r.out;
    }
    const Result all = Tool({"--help"});
    EXPECT_NE(all.out.find("keygen"), std::string::npos);
    EXPECT_NE(all.out.find("fingerprint"), std::string::npos);
}

TEST_F(KeysCommand, KeygenToAnUnwritablePlaceFails) {
    const Result r = Tool({"keygen", "--private-key-file", Path("no/such/dir/priv.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("priv.txt"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "nothing is printed when a key could not be stored";
}

#ifdef QM_QMSOCK_EXE
// In a pipe, standard output holds the three texts and nothing else.
TEST_F(KeysCommand, KeygenInAPipePrintsBareLines) {
    const std::string command = std::string(QM_QMSOCK_EXE) + " keygen 2>" + Path("stderr");
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, got);
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(Read(Path("stderr")), "");

    std::istringstream lines(out);
    std::string pubText, privText, fingerprint, extra;
    ASSERT_TRUE(std::getline(lines, pubText) && std::getline(lines, privText) &&
                std::getline(lines, fingerprint));
    EXPECT_FALSE(std::getline(lines, extra)) << extra;
    EXPECT_TRUE(KeypairSelfTest(Base64Decode(pubText), Base64Decode(privText)));
    EXPECT_EQ(fingerprint, TakeFingerprint(pubText));
    EXPECT_EQ(fingerprint.size(), 24u);
}
#endif

}  // namespace
}  // namespace qm::tool
