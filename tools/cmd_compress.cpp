// qmsock compress / decompress: the library's compressed form for files and pipes.
//
// Contract: IN and OUT default to standard input and output ("-" names them too). The whole
// input is read before anything is written, so OUT may be IN. A file OUT is written to a
// temporary file beside it and renamed into place only when complete, so malformed input,
// a read error or a full disk never leaves a partial or stale-but-new OUT behind. Exit codes
// follow command.h: 0 done, 1 malformed input or an I/O failure, 2 bad arguments.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command.h"
#include "compress/defobj.h"

#ifdef _WIN32
#include <fcntl.h>  // the C runtime's text/binary switch for the standard streams
#include <io.h>
#endif

namespace qm::tool {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool IsStandardStream(std::string_view path) {
    return path.empty() || path == "-";
}

void SetBinary(FILE* stream) {
#ifdef _WIN32
    // In text mode the runtime would turn CR LF into LF and stop at 0x1A.
    _setmode(_fileno(stream), _O_BINARY);
#else
    (void)stream;
#endif
}

bool ReadStream(FILE* f, Bytes& out) {
    unsigned char buf[65536];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + got);
    return std::ferror(f) == 0;
}

bool ReadInput(std::string_view path, Bytes& out) {
    if (IsStandardStream(path)) {
        SetBinary(stdin);
        if (ReadStream(stdin, out)) return true;
        std::fprintf(stderr, "qmsock: cannot read standard input\n");
        return false;
    }
    const std::string name(path);
    FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "qmsock: cannot open '%s'\n", name.c_str());
        return false;
    }
    const bool ok = ReadStream(f, out);
    std::fclose(f);
    if (!ok) std::fprintf(stderr, "qmsock: cannot read '%s'\n", name.c_str());
    return ok;
}

bool WriteStream(FILE* f, const Bytes& data) {
    return (data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size()) &&
           std::fflush(f) == 0;
}

bool WriteOutput(std::string_view path, const Bytes& data) {
    if (IsStandardStream(path)) {
        SetBinary(stdout);
        if (WriteStream(stdout, data)) return true;
        std::fprintf(stderr, "qmsock: cannot write standard output\n");
        return false;
    }
    namespace fs = std::filesystem;
    const fs::path target{std::string(path)};
    std::random_device entropy;
    const fs::path temp = target.string() + "." + std::to_string(entropy() & 0xFFFFFF) + ".tmp";
    FILE* f = std::fopen(temp.string().c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "qmsock: cannot create '%s'\n", target.string().c_str());
        return false;
    }
    const bool written = WriteStream(f, data);
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (written && closed) {
        fs::rename(temp, target, ec);
        if (!ec) return true;
    }
    fs::remove(temp, ec);
    std::fprintf(stderr, "qmsock: cannot write '%s'\n", target.string().c_str());
    return false;
}

int Run(const std::vector<std::string_view>& args, bool compress, std::string_view usage) {
    std::vector<std::string_view> paths;
    for (std::string_view a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("%.*s\n", static_cast<int>(usage.size()), usage.data());
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "qmsock: unknown option '%.*s'\n", static_cast<int>(a.size()), a.data());
            return 2;
        }
        paths.push_back(a);
    }
    if (paths.size() > 2) {
        std::fprintf(stderr, "qmsock: too many arguments\n%.*s\n", static_cast<int>(usage.size()),
                     usage.data());
        return 2;
    }
    const std::string_view in = paths.size() > 0 ? paths[0] : std::string_view{};
    const std::string_view out = paths.size() > 1 ? paths[1] : std::string_view{};

    Bytes data;
    if (!ReadInput(in, data)) return 1;
    TQMDefObj def;
    if (compress) {
        def.CompressBlock(data);
    } else if (!def.DecompressBlock(data)) {
        const std::string name = IsStandardStream(in) ? "standard input" : "'" + std::string(in) + "'";
        std::fprintf(stderr, "qmsock: %s is not valid compressed data\n", name.c_str());
        return 1;
    }
    return WriteOutput(out, data) ? 0 : 1;
}

constexpr std::string_view kCompressUsage =
    "usage: qmsock compress [IN [OUT]]\n"
    "Compresses IN into the library's chunked compressed form and writes it to OUT.\n"
    "IN and OUT default to standard input and output; '-' names them explicitly.";
constexpr std::string_view kDecompressUsage =
    "usage: qmsock decompress [IN [OUT]]\n"
    "Reads the library's compressed form from IN and writes the original bytes to OUT.\n"
    "IN and OUT default to standard input and output; '-' names them explicitly.\n"
    "Malformed input is reported, exits with status 1 and writes no output.";

int RunCompress(const std::vector<std::string_view>& args) {
    return Run(args, true, kCompressUsage);
}
int RunDecompress(const std::vector<std::string_view>& args) {
    return Run(args, false, kDecompressUsage);
}

const Registrar compressCommand{
    {"compress", "compress a file into the library's compressed form", kCompressUsage, &RunCompress}};
const Registrar decompressCommand{
    {"decompress", "restore a file from the library's compressed form", kDecompressUsage, &RunDecompress}};

}  // namespace

}  // namespace qm::tool
