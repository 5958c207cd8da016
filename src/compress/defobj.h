// TQMDefObj: the block compressor behind CompressData and DecompressData.
//
// It turns a byte array into the library's compressed form (chunk_format.h) and back. Other
// programs read and write this form, so every byte of it is fixed; only the choice among valid
// encodings (which matches, which Huffman tie-breaks) is the compressor's.
//
// Contract:
// - Ownership: the object owns all of its working storage (input copy, hash heads and links,
//   tokens, code tables, the output body; decoding tables and output area). Each side is
//   allocated on its first use and reused for every later chunk, so a chunk costs no allocation
//   beyond the caller's growing output vector.
// - Threads: not thread-safe. The working storage is shared by all calls; use one object per
//   thread, or one call at a time. The object holds no global state, so separate objects may run
//   on separate threads at once.
// - Spans returned by PackChunk/UnpackChunk point into the working storage (or, for a stored
//   chunk, into the given chunk) and stay valid only until the next call on the same object.
//   The input of Compress/Decompress must not lie inside the `out` vector it appends to, since
//   appending may move that vector's storage; the Block operations have no such restriction.
// - Bad input: compression never fails. Decoding checks every length, marker, trailer, code and
//   distance against its bounds and answers false for anything malformed; it never reads or
//   writes outside its input, its working storage and the output vector, and on failure the
//   caller's output is exactly as it was before the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace qm {

namespace deflate {
struct PackWork;
struct UnpackWork;
}  // namespace deflate

class TQMDefObj {
  public:
    TQMDefObj();
    ~TQMDefObj();
    TQMDefObj(const TQMDefObj&) = delete;
    TQMDefObj& operator=(const TQMDefObj&) = delete;

    // Replaces `data` by its compressed form. Always true.
    bool CompressBlock(std::vector<std::uint8_t>& data);
    // Replaces `data` by its decompressed form; false, with `data` unchanged, when the form is
    // not valid or the result would exceed `limit` bytes.
    bool DecompressBlock(std::vector<std::uint8_t>& data,
                         std::size_t limit = std::numeric_limits<std::size_t>::max());

    // Appends the compressed form of `in` to `out`.
    void Compress(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out);
    // Appends the decompressed form of `in` to `out`. False when `in` is not a valid compressed
    // form or the appended bytes would exceed `limit`; then `out` keeps its previous contents.
    bool Decompress(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out,
                    std::size_t limit = std::numeric_limits<std::size_t>::max());

    // One encoded chunk (marker, body, trailer) for a piece of at most 32768 bytes; larger
    // pieces are a caller fault and give an empty span.
    std::span<const std::uint8_t> PackChunk(std::span<const std::uint8_t> piece);
    // One encoded chunk back to its piece. False for a malformed chunk.
    bool UnpackChunk(std::span<const std::uint8_t> chunk, std::span<const std::uint8_t>& piece);

    // A match of length 3 is used only when its distance is less than this.
    std::size_t TooFar() const noexcept { return tooFar_; }

  private:
    std::size_t tooFar_;
    std::unique_ptr<deflate::PackWork> pack_;
    std::unique_ptr<deflate::UnpackWork> unpack_;
};

}  // namespace qm
