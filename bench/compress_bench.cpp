// TQMDefObj against zlib on one mixed corpus, in one run.
//
// The corpus is assembled from files on this machine: text (documentation, licences), source
// code (system headers) and binaries (shared libraries, programs), about 4 MB of each, in a
// fixed order so runs compare. zlib compresses the corpus as one raw Deflate stream at levels
// 1, 6 and 9 (its best case: one window over everything); ours compresses it as the chunked
// form. Throughput is input bytes per second for compression and output bytes per second for
// decompression, best of several rounds. Usage: compress_bench [MEGABYTES_PER_KIND]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "compress/defobj.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Appends regular files under `root` whose names pass `want`, in sorted order, until `budget`
// bytes have been taken from this kind.
std::size_t Gather(Bytes& corpus, const fs::path& root, const std::function<bool(const fs::path&)>& want,
                   std::size_t budget) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
         it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::size_t taken = 0;
    for (const auto& path : files) {
        if (taken >= budget) break;
        std::ifstream f(path, std::ios::binary);
        Bytes b{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        if (b.size() > budget - taken) b.resize(budget - taken);
        corpus.insert(corpus.end(), b.begin(), b.end());
        taken += b.size();
    }
    return taken;
}

double Seconds(const std::function<void()>& work, int rounds) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

Bytes ZlibDeflate(const Bytes& in, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    ::deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool ZlibInflate(const Bytes& in, Bytes& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = ::inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t perKind = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4) << 20;
    Bytes corpus;
    const auto isText = [](const fs::path& p) {
        const auto ext = p.extension().string();
        return ext.empty() || ext == ".txt" || ext == ".md" || ext == ".html" || ext == ".rst";
    };
    const auto isSource = [](const fs::path& p) {
        const auto ext = p.extension().string();
        return ext == ".h" || ext == ".hpp" || ext == ".c" || ext == ".cc" || ext == ".cpp";
    };
    const auto isBinary = [](const fs::path& p) { return p.string().find(".so") != std::string::npos; };
    std::size_t text = Gather(corpus, "/usr/share/common-licenses", isText, perKind / 4);
    text += Gather(corpus, "/usr/share/doc", isText, perKind - text);
    const std::size_t source = Gather(corpus, "/usr/include", isSource, perKind);
    std::size_t binary = Gather(corpus, "/usr/lib/x86_64-linux-gnu", isBinary, perKind / 2);
    binary += Gather(
        corpus, "/usr/bin", [](const fs::path&) { return true; }, perKind - binary);
    std::printf("corpus: %.2f MB (text %.2f, source %.2f, binaries %.2f)\n", corpus.size() / 1e6, text / 1e6,
                source / 1e6, binary / 1e6);
    if (corpus.size() < 10'000'000) std::printf("warning: corpus under 10 MB\n");

    const int rounds = 3;
    const double mb = static_cast<double>(corpus.size()) / 1e6;
    qm::TQMDefObj def;
    Bytes ours;
    const double ourPack = Seconds(
        [&] {
            ours.clear();
            def.Compress(corpus, ours);
        },
        rounds);
    Bytes back;
    bool ok = true;
    const double ourUnpack = Seconds(
        [&] {
            back.clear();
            ok = ok && def.Decompress(ours, back);
        },
        rounds);
    if (!ok || back != corpus) {
        std::printf("FAILED: our round trip differs\n");
        return 1;
    }

    std::printf("\n%-14s %12s %9s %14s %14s\n", "coder", "size", "ratio", "compress MB/s", "inflate MB/s");
    std::printf("%-14s %12zu %8.2f%% %14.1f %14.1f\n", "qm TQMDefObj", ours.size(),
                100.0 * static_cast<double>(ours.size()) / static_cast<double>(corpus.size()), mb / ourPack,
                mb / ourUnpack);
    double zlib6Pack = 0;
    double zlib6Unpack = 0;
    for (const int level : {1, 6, 9}) {
        Bytes z;
        const double pack = Seconds([&] { z = ZlibDeflate(corpus, level); }, rounds);
        Bytes out(corpus.size());
        bool zok = true;
        const double unpack = Seconds([&] { zok = zok && ZlibInflate(z, out); }, rounds);
        if (!zok || out != corpus) {
            std::printf("FAILED: zlib round trip differs\n");
            return 1;
        }
        std::printf("zlib level %-3d %12zu %8.2f%% %14.1f %14.1f\n", level, z.size(),
                    100.0 * static_cast<double>(z.size()) / static_cast<double>(corpus.size()), mb / pack,
                    mb / unpack);
        if (level == 6) {
            zlib6Pack = pack;
            zlib6Unpack = unpack;
        }
    }
    std::printf("\ncompression: %.2fx zlib level 6; decompression: %.2fx zlib inflate (of level 6)\n",
                zlib6Pack / ourPack, zlib6Unpack / ourUnpack);
    return 0;
}
