// TQMDefObj: chunk framing around the body coders in deflate_pack.cpp and deflate_unpack.cpp.
//
// Contract: see defobj.h.
#include "compress/defobj.h"

#include <algorithm>
#include <cstring>

#include "compress/deflate_work.h"

namespace qm {

using namespace deflate;

TQMDefObj::TQMDefObj() : tooFar_(kTooFar) {}

TQMDefObj::~TQMDefObj() = default;

std::span<const std::uint8_t> TQMDefObj::PackChunk(std::span<const std::uint8_t> piece) {
    const std::size_t n = piece.size();
    if (n > kChunkSize) return {};
    // Value-initialised once: the hash heads must start empty, and the input slack is read by
    // the word-wise match measurement.
    if (!pack_) pack_ = std::make_unique<PackWork>();
    PackWork& w = *pack_;
    std::size_t body = n;
    if (n >= kStoredLimit) {
        std::memcpy(w.input, piece.data(), n);
        body = PackBody(w, n, tooFar_);
        w.chunk[0] = kMarkerCompressed;
    }
    // The writer's output stays far below the 2-byte length field's range for every piece
    // seen in practice; should a body ever not fit, the piece is stored rather than framed
    // with a length that wraps.
    if (n < kStoredLimit || body + 2 > kMaxChunkLength) {
        body = n;
        w.chunk[0] = kMarkerStored;
        if (n != 0) std::memcpy(w.chunk + 1, piece.data(), n);
    }
    w.chunk[1 + body] = kTrailer;
    return {w.chunk, body + 2};
}

bool TQMDefObj::UnpackChunk(std::span<const std::uint8_t> chunk, std::span<const std::uint8_t>& piece) {
    const std::size_t m = chunk.size();
    if (m < 2 || (chunk[0] & kMarkerMask) != kMarkerStored || chunk[m - 1] != kTrailer) return false;
    if ((chunk[0] & kCompressedFlag) == 0) {
        if (m - 2 > kChunkSize) return false;
        piece = chunk.subspan(1, m - 2);
        return true;
    }
    if (!unpack_) unpack_ = std::make_unique<UnpackWork>();
    std::size_t produced = 0;
    if (!UnpackBody(*unpack_, chunk.data() + 1, m - 2, unpack_->out, produced)) return false;
    piece = {unpack_->out, produced};
    return true;
}

void TQMDefObj::Compress(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + in.size() / 2 + 16);
    std::size_t pos = 0;
    while (pos < in.size()) {
        const std::size_t n = std::min(kChunkSize, in.size() - pos);
        const std::span<const std::uint8_t> chunk = PackChunk(in.subspan(pos, n));
        out.push_back(static_cast<std::uint8_t>(chunk.size()));
        out.push_back(static_cast<std::uint8_t>(chunk.size() >> 8));
        out.insert(out.end(), chunk.begin(), chunk.end());
        pos += n;
    }
}

bool TQMDefObj::Decompress(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out,
                           std::size_t limit) {
    // A first pass over the chunk lengths rejects truncated framing before any work, and bounds
    // the output so that it is reserved once. The reservation is capped: a hostile form of tiny
    // chunks must not make us reserve far more than the input could plausibly expand to before
    // a single chunk has been checked.
    std::size_t bound = 0;
    for (std::size_t pos = 0; pos < in.size();) {
        if (in.size() - pos < kChunkLengthBytes) return false;
        const std::size_t m = in[pos] | (static_cast<std::size_t>(in[pos + 1]) << 8);
        pos += kChunkLengthBytes;
        if (in.size() - pos < m) return false;
        if (m >= 2) bound += (in[pos] & kCompressedFlag) != 0 ? kChunkSize : m - 2;
        pos += m;
    }
    const std::size_t before = out.size();
    out.reserve(before + std::min({bound, limit, in.size() * 8 + kChunkSize}) + kOutputSlack);

    bool ok = true;
    for (std::size_t pos = 0; ok && pos < in.size();) {
        const std::size_t m = in[pos] | (static_cast<std::size_t>(in[pos + 1]) << 8);
        pos += kChunkLengthBytes;
        const std::span<const std::uint8_t> chunk = in.subspan(pos, m);
        pos += m;
        const std::size_t room = limit - (out.size() - before);
        if (m >= 2 && chunk[0] == kMarkerCompressed && chunk[m - 1] == kTrailer) {
            // Compressed chunks decode straight into the output, saving a copy of every piece.
            if (!unpack_) unpack_ = std::make_unique<UnpackWork>();
            const std::size_t base = out.size();
            out.resize(base + kChunkSize + kOutputSlack);
            std::size_t produced = 0;
            ok = UnpackBody(*unpack_, chunk.data() + 1, m - 2, out.data() + base, produced) &&
                 produced <= room;
            out.resize(base + produced);
            continue;
        }
        std::span<const std::uint8_t> piece;
        ok = UnpackChunk(chunk, piece) && piece.size() <= room;
        if (ok) out.insert(out.end(), piece.begin(), piece.end());
    }
    if (!ok) out.resize(before);
    return ok;
}

bool TQMDefObj::CompressBlock(std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    Compress(data, out);
    data.swap(out);
    return true;
}

bool TQMDefObj::DecompressBlock(std::vector<std::uint8_t>& data, std::size_t limit) {
    std::vector<std::uint8_t> out;
    if (!Decompress(data, out, limit)) return false;
    data.swap(out);
    return true;
}

}  // namespace qm
