// RSA key generation and the private-key exponentiation side by side with OpenSSL, in one
// process. Key generation is timed one key per repetition (25 keys each) and compared by
// median, since the prime search makes single keys vary widely. The exponentiation raises the
// same base to the same 1024-bit private exponent modulo the same 1024-bit modulus in both
// (one OpenSSL key supplies all three). A table at the end gives each ratio and its limit.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "crypto/bigint.h"
#include "crypto/rsa.h"

namespace {

constexpr int kKeys = 25;

struct Operands {
    std::string n, d, base;
};

std::string BnBytes(const BIGNUM* bn) {
    std::string out(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

// Modulus and private exponent of a fresh 1024-bit OpenSSL key, and a base below the modulus.
const Operands& SharedOperands() {
    static const Operands ops = [] {
        Operands o;
        EVP_PKEY* pkey = EVP_RSA_gen(1024);
        BIGNUM *n = nullptr, *d = nullptr;
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, &d);
        o.n = BnBytes(n);
        o.d = BnBytes(d);
        o.base = o.n;
        o.base[0] = static_cast<char>(static_cast<unsigned char>(o.base[0]) >> 1);
        for (std::size_t i = 1; i < o.base.size(); ++i) o.base[i] = static_cast<char>(o.base[i] * 7 + 13);
        BN_free(n);
        BN_free(d);
        EVP_PKEY_free(pkey);
        return o;
    }();
    return ops;
}

void OursGenerateKeypair(benchmark::State& state) {
    for (auto _ : state) {
        std::string pub, priv;
        if (!qm::GenerateKeypair(pub, priv)) state.SkipWithError("key generation failed");
        benchmark::DoNotOptimize(pub.data());
    }
}

void OpenSslGenerateKey(benchmark::State& state) {
    for (auto _ : state) {
        EVP_PKEY* pkey = EVP_RSA_gen(1024);
        if (pkey == nullptr) state.SkipWithError("key generation failed");
        EVP_PKEY_free(pkey);
    }
}

void OursModExp(benchmark::State& state) {
    const Operands& ops = SharedOperands();
    const qm::TFGInt a = qm::BigFromBytes(ops.base), e = qm::BigFromBytes(ops.d), m = qm::BigFromBytes(ops.n);
    qm::TFGInt r;
    for (auto _ : state) {
        if (!qm::BigModExp(a, e, m, r)) state.SkipWithError("exponentiation refused");
        benchmark::DoNotOptimize(r.digits.data());
    }
}

void OpenSslModExp(benchmark::State& state) {
    const Operands& ops = SharedOperands();
    auto bn = [](const std::string& s) {
        return BN_bin2bn(reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()),
                         nullptr);
    };
    BIGNUM *a = bn(ops.base), *e = bn(ops.d), *m = bn(ops.n), *r = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    for (auto _ : state) {
        if (BN_mod_exp(r, a, e, m, ctx) != 1) state.SkipWithError("BN_mod_exp failed");
        benchmark::DoNotOptimize(r);
    }
    BN_CTX_free(ctx);
    BN_free(a);
    BN_free(e);
    BN_free(m);
    BN_free(r);
}

// Keeps the median CPU time of every benchmark for the comparison table. CPU time, because the
// benchmark is single-threaded and other work on a shared machine inflates real time unevenly.
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> medianSeconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            medianSeconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    SharedOperands();
    // One key per repetition, so the median is taken over 25 single keys.
    for (const char* name : {"GenerateKeypair/ours", "RSA1024_keygen/OpenSSL"}) {
        auto* b =
            benchmark::RegisterBenchmark(name, name[0] == 'G' ? OursGenerateKeypair : OpenSslGenerateKey);
        b->Iterations(1)->Repetitions(kKeys)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BigModExp_1024/ours", OursModExp)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BN_mod_exp_1024/OpenSSL", OpenSslModExp)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    struct Row {
        const char *ours, *reference;
        double limit;
    };
    const Row rows[] = {
        {"GenerateKeypair/ours", "RSA1024_keygen/OpenSSL", 2.0},
        {"BigModExp_1024/ours", "BN_mod_exp_1024/OpenSSL", 3.0},
    };
    std::printf("\n%-24s %12s   %-24s %12s   %6s  %s\n", "ours (median)", "time", "OpenSSL (median)", "time",
                "ratio", "limit");
    bool met = true;
    for (const Row& row : rows) {
        auto o = collector.medianSeconds.find(row.ours);
        auto r = collector.medianSeconds.find(row.reference);
        if (o == collector.medianSeconds.end() || r == collector.medianSeconds.end()) continue;
        const double ratio = o->second / r->second;
        const bool ok = ratio <= row.limit;
        met = met && ok;
        std::printf("%-24s %12.3f   %-24s %12.3f   %6.2f  <= %.1f %s\n", row.ours, o->second, row.reference,
                    r->second, ratio, row.limit, ok ? "met" : "MISSED");
    }
    std::printf("(median CPU times, in the unit of each benchmark above)\n");
    benchmark::Shutdown();
    return met ? 0 : 1;
}
