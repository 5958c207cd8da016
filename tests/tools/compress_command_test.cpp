// qmsock compress / decompress, driven in-process on real files; on Linux also through the
// built executable with standard input and output.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "command.h"
#include "compress/defobj.h"

namespace qm::tool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class CompressCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device entropy;
        dir_ = fs::temp_directory_path() / ("qmsock-compress-" + std::to_string(entropy()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static void Write(const std::string& path, const Bytes& data) {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    static Bytes Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
    static int Tool(std::vector<std::string> words) {
        words.insert(words.begin(), "qmsock");
        std::vector<std::string_view> argv(words.begin(), words.end());
        return RunTool(argv);
    }
    std::size_t FilesInDir() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
    }

    // Text with line ends, a 0x1A byte and noise: what text-mode streams would damage.
    static Bytes Sample() {
        Bytes b;
        std::mt19937 rng(3);
        for (int i = 0; i < 3000; ++i) {
            const char* line = "flow control keeps the window open\r\n";
            b.insert(b.end(), line, line + 36);
            if (i % 50 == 0) b.push_back(0x1A);
            b.push_back(static_cast<std::uint8_t>(rng()));
        }
        return b;
    }

    fs::path dir_;
};

TEST_F(CompressCommand, FileRoundTripMatchesTheLibrary) {
    const Bytes in = Sample();
    Write(Path("in"), in);
    ASSERT_EQ(Tool({"compress", Path("in"), Path("packed")}), 0);
    Bytes expected = in;
    TQMDefObj def;
    def.CompressBlock(expected);
    EXPECT_TRUE(Read(Path("packed")) == expected);

    ASSERT_EQ(Tool({"decompress", Path("packed"), Path("out")}), 0);
    EXPECT_TRUE(Read(Path("out")) == in);
    EXPECT_EQ(FilesInDir(), 3u) << "a temporary file was left behind";

    // OUT may be IN: the input is read whole first.
    ASSERT_EQ(Tool({"compress", Path("out"), Path("out")}), 0);
    EXPECT_TRUE(Read(Path("out")) == expected);
}

TEST_F(CompressCommand, MalformedInputWritesNothing) {
    Bytes form = Sample();
    TQMDefObj def;
    def.CompressBlock(form);
    Bytes cut(form.begin(), form.end() - 1);
    Bytes badMarker = form;
    badMarker[2] = 0x4E;
    for (const Bytes& bad : {cut, badMarker, Bytes{0x05}}) {
        Write(Path("bad"), bad);
        EXPECT_EQ(Tool({"decompress", Path("bad"), Path("out")}), 1);
        EXPECT_FALSE(fs::exists(Path("out")));
        EXPECT_EQ(FilesInDir(), 1u);
    }
    // An existing OUT is left as it was.
    Write(Path("out"), {1, 2, 3});
    EXPECT_EQ(Tool({"decompress", Path("bad"), Path("out")}), 1);
    EXPECT_EQ(Read(Path("out")), (Bytes{1, 2, 3}));
}

TEST_F(CompressCommand, ArgumentsAndMissingFiles) {
    EXPECT_EQ(Tool({"decompress", Path("missing"), Path("out")}), 1);
    EXPECT_FALSE(fs::exists(Path("out")));
    EXPECT_EQ(Tool({"compress", "a", "b", "c"}), 2);
    EXPECT_EQ(Tool({"compress", "--level", "9"}), 2);
    EXPECT_EQ(Tool({"compress", "--help"}), 0);
    Write(Path("in"), {1});
    EXPECT_EQ(Tool({"compress", Path("in"), Path("no-such-dir/out")}), 1);
}

#ifdef QM_QMSOCK_EXE
// Through the real executable and a shell, so standard input and output are real pipes.
TEST_F(CompressCommand, StandardStreams) {
    const Bytes in = Sample();
    Write(Path("in"), in);
    const std::string exe = QM_QMSOCK_EXE;
    ASSERT_EQ(
        std::system(
            (exe + " compress < " + Path("in") + " | " + exe + " decompress - > " + Path("out")).c_str()),
        0);
    EXPECT_TRUE(Read(Path("out")) == in);

    Write(Path("bad"), {0x06, 0x00, 0x4D, 'a', 0x47});
    const int rc = std::system(
        (exe + " decompress < " + Path("bad") + " > " + Path("bad-out") + " 2> " + Path("err")).c_str());
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(Read(Path("bad-out")).empty());
    const Bytes err = Read(Path("err"));
    EXPECT_NE(std::string(err.begin(), err.end()).find("not valid compressed data"), std::string::npos);
}
#endif

}  // namespace
}  // namespace qm::tool
