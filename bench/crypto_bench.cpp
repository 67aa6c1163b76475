// crypto_bench.cpp -- throughput of our ciphers, MD5 and CRC-32 on 8 KiB buffers beside
// the peer libraries on the same machine (OpenSSL EVP and Botan for the ciphers, OpenSSL
// for MD5, zlib for CRC-32), each direction separately, followed by a table of ratios
// (ours / fastest peer, from the medians when repetitions are run; bytes per CPU second,
// as Google Benchmark counts them, which a busy machine disturbs least).
// Run: cmake --preset bench && cmake --build build/bench -j2 --target crypto_bench &&
//      build/bench/bench/crypto_bench
// (5 repetitions unless --benchmark_repetitions is given; other --benchmark_* flags pass
// through, e.g. --benchmark_filter=MD5). Run it on an otherwise idle machine.

#include <benchmark/benchmark.h>
#include <botan/block_cipher.h>
#include <botan/cipher_mode.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/md5.h"

namespace {

using namespace hedgerow;

constexpr size_t kBufferSize = 8192;
const char* const kPassword = "benchmark password";

std::vector<uint8_t> MakeBuffer() {
    std::vector<uint8_t> buffer(kBufferSize);
    uint32_t x = 12345;
    for (auto& b : buffer) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return buffer;
}

std::vector<uint8_t> KeyBytes() {
    uint8_t digest[16];
    crypto::PasswordDigest(kPassword, digest);
    return {digest, digest + 16};
}

void Finish(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferSize));
}

// ---- Ours -------------------------------------------------------------------------

void Ours(benchmark::State& state, int32_t cipher_id, bool encipher) {
    auto buffer = MakeBuffer();
    crypto::CipherState cipher;
    if (encipher) {
        crypto::SetEncipherKey(cipher, kPassword, cipher_id);
    } else {
        crypto::SetDecipherKey(cipher, kPassword, cipher_id);
    }
    const uint8_t chain[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    crypto::LoadChain(cipher, chain);
    for (auto _ : state) {
        if (encipher) {
            crypto::EncipherBuffer(cipher, buffer.data(), static_cast<int32_t>(kBufferSize), cipher_id);
        } else {
            crypto::DecipherBuffer(cipher, buffer.data(), static_cast<int32_t>(kBufferSize), cipher_id);
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void OursMd5(benchmark::State& state) {
    auto buffer = MakeBuffer();
    uint8_t digest[16];
    for (auto _ : state) {
        crypto::Md5(buffer.data(), buffer.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    Finish(state);
}

void OursCrc32(benchmark::State& state) {
    auto buffer = MakeBuffer();
    for (auto _ : state) {
        uint32_t crc = crypto::Crc32(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(crc);
    }
    Finish(state);
}

// ---- OpenSSL ----------------------------------------------------------------------

void Openssl(benchmark::State& state, const char* name, bool encipher) {
    auto buffer = MakeBuffer();
    const auto key = KeyBytes();
    const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (cipher == nullptr || ctx == nullptr ||
        EVP_CipherInit_ex2(ctx, cipher, key.data(), iv, encipher ? 1 : 0, nullptr) != 1) {
        state.SkipWithError("OpenSSL cipher not available");
    } else {
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        for (auto _ : state) {
            int n = 0;
            EVP_CipherUpdate(ctx, buffer.data(), &n, buffer.data(), static_cast<int>(kBufferSize));
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        }
        Finish(state);
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
}

void OpensslMd5(benchmark::State& state) {
    auto buffer = MakeBuffer();
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    uint8_t digest[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        unsigned int n = 0;
        EVP_DigestInit_ex2(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, buffer.data(), buffer.size());
        EVP_DigestFinal_ex(ctx, digest, &n);
        benchmark::DoNotOptimize(digest);
    }
    Finish(state);
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

// ---- Botan and zlib ---------------------------------------------------------------

// Botan reads IDEA words big-endian; the throughput does not depend on the byte order,
// so keys and data are handed over unswapped.
void BotanEcb(benchmark::State& state, const char* name, bool encipher) {
    auto buffer = MakeBuffer();
    auto cipher = Botan::BlockCipher::create_or_throw(name);
    cipher->set_key(KeyBytes().data(), cipher->maximum_keylength() >= 16 ? 16 : 8);
    const size_t blocks = kBufferSize / cipher->block_size();
    for (auto _ : state) {
        if (encipher) {
            cipher->encrypt_n(buffer.data(), buffer.data(), blocks);
        } else {
            cipher->decrypt_n(buffer.data(), buffer.data(), blocks);
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BotanCbc(benchmark::State& state, const char* name, bool encipher) {
    auto buffer = MakeBuffer();
    auto mode = Botan::Cipher_Mode::create_or_throw(
        name, encipher ? Botan::Cipher_Dir::ENCRYPTION : Botan::Cipher_Dir::DECRYPTION);
    mode->set_key(KeyBytes());
    const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    mode->start(iv, sizeof iv);
    for (auto _ : state) {
        mode->process(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void ZlibCrc32(benchmark::State& state) {
    auto buffer = MakeBuffer();
    for (auto _ : state) {
        uLong crc = crc32(0L, buffer.data(), static_cast<uInt>(buffer.size()));
        benchmark::DoNotOptimize(crc);
    }
    Finish(state);
}

// ---- Registration and the ratio table -----------------------------------------------

// Rows in report order; each row's benchmarks are named "<row>/<implementation>".
const char* const kRows[] = {
    "DES-ECB encipher", "DES-ECB decipher", "3DES-CBC encipher", "3DES-CBC decipher",
    "IDEA-CBC encipher", "IDEA-CBC decipher", "MD5", "CRC-32",
};

void Register() {
    using benchmark::RegisterBenchmark;
    for (bool encipher : {true, false}) {
        const std::string dir = encipher ? " encipher" : " decipher";
        RegisterBenchmark(("DES-ECB" + dir + "/ours").c_str(), Ours, crypto::kCipherDes, encipher);
        RegisterBenchmark(("DES-ECB" + dir + "/OpenSSL").c_str(), Openssl, "DES-ECB", encipher);
        RegisterBenchmark(("DES-ECB" + dir + "/Botan").c_str(), BotanEcb, "DES", encipher);
    }
    for (bool encipher : {true, false}) {
        const std::string dir = encipher ? " encipher" : " decipher";
        RegisterBenchmark(("3DES-CBC" + dir + "/ours").c_str(), Ours, crypto::kCipherTripleDes, encipher);
        RegisterBenchmark(("3DES-CBC" + dir + "/OpenSSL").c_str(), Openssl, "DES-EDE-CBC", encipher);
        RegisterBenchmark(("3DES-CBC" + dir + "/Botan").c_str(), BotanCbc, "TripleDES/CBC/NoPadding", encipher);
    }
    for (bool encipher : {true, false}) {
        const std::string dir = encipher ? " encipher" : " decipher";
        RegisterBenchmark(("IDEA-CBC" + dir + "/ours").c_str(), Ours, crypto::kCipherIdea, encipher);
        RegisterBenchmark(("IDEA-CBC" + dir + "/Botan").c_str(), BotanCbc, "IDEA/CBC/NoPadding", encipher);
    }
    RegisterBenchmark("MD5/ours", OursMd5);
    RegisterBenchmark("MD5/OpenSSL", OpensslMd5);
    RegisterBenchmark("CRC-32/ours", OursCrc32);
    RegisterBenchmark("CRC-32/zlib", ZlibCrc32);
}

// Passes everything to the console and keeps the throughput of each benchmark: the
// median when repetitions run, else the single result.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single) continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) throughput_[run.run_name.function_name] = it->second.value;
        }
    }

    void PrintRatios() const {
        std::printf("\n%-20s %12s %12s %12s %12s  %s\n", "row (MB/s)", "ours", "OpenSSL", "Botan", "zlib",
                    "ours / fastest peer");
        for (const char* row : kRows) {
            const double ours = Get(row, "ours");
            if (ours <= 0) continue;  // filtered out
            double best = 0;
            std::printf("%-20s %12.1f", row, ours / 1e6);
            for (const char* peer : {"OpenSSL", "Botan", "zlib"}) {
                const double v = Get(row, peer);
                if (v > 0) {
                    std::printf(" %12.1f", v / 1e6);
                } else {
                    std::printf(" %12s", "-");
                }
                if (v > best) best = v;
            }
            if (best > 0) {
                std::printf("  %.2fx\n", ours / best);
            } else {
                std::printf("  -\n");
            }
        }
    }

private:
    double Get(const std::string& row, const std::string& implementation) const {
        const auto it = throughput_.find(row + "/" + implementation);
        return it == throughput_.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char** argv) {
    // Single DES is in OpenSSL's legacy provider; keep the default one too.
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");

    std::vector<char*> args(argv, argv + argc);
    bool repetitions_given = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) repetitions_given = true;
    }
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    if (!repetitions_given) {
        args.push_back(repetitions.data());
        args.push_back(aggregates.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    Register();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();

    if (standard != nullptr) OSSL_PROVIDER_unload(standard);
    if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
    return 0;
}
