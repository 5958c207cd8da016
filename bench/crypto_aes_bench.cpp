// CAES and MD5 side by side with OpenSSL on 16 KiB bodies, the size of a large packet.
// CAES is measured as a pipe uses it: the body is copied into a reused buffer and framed and
// enciphered (or deciphered and unframed) in place. OpenSSL is measured as plain AES-128-CBC
// from the same fixed vector, reset per message as CAES does, with no framing at all.
// After the runs a table gives the ratio of each of ours to its OpenSSL counterpart.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/md5.h"

namespace {

constexpr std::size_t kBody = 16384;
constexpr char kKeyText[] = "benchmark session key";

std::vector<std::uint8_t> RandomBody(std::size_t n) {
    std::mt19937 rng(1);
    std::vector<std::uint8_t> body(n);
    for (auto& b : body) b = std::uint8_t(rng());
    return body;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kBody);
}

void CaesEncrypt(benchmark::State& state, qm::AesStrategy strategy) {
    qm::CAES cipher(kKeyText, strategy);
    const auto body = RandomBody(kBody);
    std::vector<std::uint8_t> buf;
    buf.reserve(qm::CAES::FrameLength(kBody));
    for (auto _ : state) {
        buf.assign(body.begin(), body.end());
        cipher.EncryptBuffer(buf);
        benchmark::DoNotOptimize(buf.data());
    }
    SetBytes(state);
}

void CaesDecrypt(benchmark::State& state, qm::AesStrategy strategy) {
    qm::CAES cipher(kKeyText, strategy);
    auto frame = RandomBody(kBody);
    cipher.EncryptBuffer(frame);
    std::vector<std::uint8_t> buf;
    buf.reserve(frame.size());
    for (auto _ : state) {
        buf.assign(frame.begin(), frame.end());
        if (!cipher.DecryptBuffer(buf)) state.SkipWithError("frame refused");
        benchmark::DoNotOptimize(buf.data());
    }
    SetBytes(state);
}

void OpenSslCbc(benchmark::State& state, bool encrypt) {
    std::uint8_t key[16], iv[16];
    qm::MD5OfBuffer(kKeyText, sizeof kKeyText - 1, key);
    qm::MD5OfBuffer("tovelanurim", 11, iv);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    const auto in = RandomBody(kBody);
    std::vector<std::uint8_t> out(kBody);
    for (auto _ : state) {
        int n = 0;
        EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv, -1);
        EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    SetBytes(state);
}

void OursMd5(benchmark::State& state) {
    const auto in = RandomBody(kBody);
    std::uint8_t digest[16];
    for (auto _ : state) {
        qm::MD5OfBuffer(in.data(), in.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state);
}

void OpenSslMd5(benchmark::State& state) {
    const auto in = RandomBody(kBody);
    std::uint8_t digest[16];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(in.data(), in.size(), digest, &len, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state);
}

// Keeps the throughput of every run so the comparison table can be printed at the end.
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> bytesPerSecond;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) bytesPerSecond[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const bool instructions = qm::CAES::InstructionsAvailable();
    benchmark::RegisterBenchmark("CAES_encrypt_16K/tables", CaesEncrypt, qm::AesStrategy::Tables);
    benchmark::RegisterBenchmark("CAES_decrypt_16K/tables", CaesDecrypt, qm::AesStrategy::Tables);
    if (instructions) {
        benchmark::RegisterBenchmark("CAES_encrypt_16K/instructions", CaesEncrypt,
                                     qm::AesStrategy::Instructions);
        benchmark::RegisterBenchmark("CAES_decrypt_16K/instructions", CaesDecrypt,
                                     qm::AesStrategy::Instructions);
    }
    benchmark::RegisterBenchmark("OpenSSL_AES128CBC_encrypt_16K", OpenSslCbc, true);
    benchmark::RegisterBenchmark("OpenSSL_AES128CBC_decrypt_16K", OpenSslCbc, false);
    benchmark::RegisterBenchmark("MD5_16K/ours", OursMd5);
    benchmark::RegisterBenchmark("MD5_16K/OpenSSL", OpenSslMd5);

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    struct Row {
        const char* ours;
        const char* reference;
        double target;
    };
    const Row rows[] = {
        {"CAES_encrypt_16K/instructions", "OpenSSL_AES128CBC_encrypt_16K", 0.8},
        {"CAES_decrypt_16K/instructions", "OpenSSL_AES128CBC_decrypt_16K", 0.5},
        {"CAES_encrypt_16K/tables", "OpenSSL_AES128CBC_encrypt_16K", 0.0},
        {"CAES_decrypt_16K/tables", "OpenSSL_AES128CBC_decrypt_16K", 0.0},
        {"MD5_16K/ours", "MD5_16K/OpenSSL", 0.9},
    };
    std::printf("\n%-32s %10s   %-32s %10s   %6s  %s\n", "ours", "MB/s", "OpenSSL", "MB/s", "ratio",
                "target");
    bool met = true;
    for (const Row& row : rows) {
        auto a = collector.bytesPerSecond.find(row.ours);
        auto b = collector.bytesPerSecond.find(row.reference);
        if (a == collector.bytesPerSecond.end() || b == collector.bytesPerSecond.end()) continue;
        const double ratio = a->second / b->second;
        std::string verdict = "(portable path, no target)";
        if (row.target > 0) {
            const bool ok = ratio >= row.target;
            met = met && ok;
            char text[32];
            std::snprintf(text, sizeof text, ">= %.2f %s", row.target, ok ? "met" : "MISSED");
            verdict = text;
        }
        std::printf("%-32s %10.1f   %-32s %10.1f   %6.2f  %s\n", row.ours, a->second / 1e6, row.reference,
                    b->second / 1e6, ratio, verdict.c_str());
    }
    if (!instructions) std::printf("no AES instructions on this CPU: only the table path was measured\n");
    benchmark::Shutdown();
    return met ? 0 : 1;
}
