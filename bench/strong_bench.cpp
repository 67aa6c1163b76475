// strong_bench.cpp -- what strong archives cost. First, Google Benchmark rows: ChaCha20-
// Poly1305 sealing and opening 64 KiB chunks as strong archives use it (libgcrypt) beside
// OpenSSL's EVP on the same chunks, and one Argon2id derivation with the default
// parameters. Then the command itself on a many-file corpus: `hedgerow a` and `hedgerow x`
// with a strong archive (chacha) and with a legacy one without a cipher (`-c none`), each
// the best of three runs, with the one Argon2id derivation of every strong command taken
// out, and the ratios printed. The goal: ChaCha20-Poly1305 at 1 GB/s or more each way, and
// a strong archive within 10% of `-c none` both ways.
//
//   cmake --preset bench && cmake --build build/bench -j2 --target strong_bench
//   HEDGEROW_CORPUS=DIR build/bench/bench/strong_bench     (default corpus: build/corpus,
//   made by bench/make-corpus.sh; --benchmark_* flags pass through; HEDGEROW_BENCH_THREADS
//   sets -T for both kinds of archive, 1 when not set)
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>

#include "strong/format.h"
#include "strong/primitives.h"

#ifndef HEDGEROW_COMMAND
#error "HEDGEROW_COMMAND names the hedgerow program"
#endif

namespace fs = std::filesystem;
using namespace hedgerow;

namespace {

constexpr size_t kChunk = strong::kChunkSize;

std::vector<uint8_t> Buffer() {
    std::vector<uint8_t> b(kChunk);
    uint32_t x = 7;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

strong::Key BenchKey() {
    strong::Key k;
    for (size_t i = 0; i < k.bytes.size(); ++i) k.bytes[i] = static_cast<uint8_t>(i * 13 + 1);
    return k;
}

void Ours(benchmark::State& state, bool seal) {
    strong::Aead aead;
    if (!aead.SetKey(BenchKey())) state.SkipWithError("no key");
    std::vector<uint8_t> data = Buffer();
    uint8_t nonce[strong::kNonceSize] = {};
    uint8_t tag[strong::kTagSize] = {};
    if (!aead.Seal(nonce, {}, data, data, tag)) state.SkipWithError("seal");
    const std::vector<uint8_t> sealed = data;
    for (auto _ : state) {
        if (seal) {
            if (!aead.Seal(nonce, {}, data, data, tag)) state.SkipWithError("seal");
        } else {
            data = sealed;  // (a copy of 64 KiB: the price is in both rows of the peer too)
            if (!aead.Open(nonce, {}, data, data, tag)) state.SkipWithError("open");
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

void Peer(benchmark::State& state, bool seal) {
    const strong::Key key = BenchKey();
    std::vector<uint8_t> data = Buffer();
    std::vector<uint8_t> out(kChunk);
    uint8_t nonce[strong::kNonceSize] = {};
    uint8_t tag[strong::kTagSize] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.bytes.data(), nonce);
    EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(kChunk));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &n);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, tag);
    const std::vector<uint8_t> sealed = out;
    for (auto _ : state) {
        if (seal) {
            EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce);
            EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(kChunk));
            EVP_EncryptFinal_ex(ctx, out.data() + n, &n);
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, tag);
        } else {
            data = sealed;
            EVP_DecryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.bytes.data(), nonce);
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tag);
            EVP_DecryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(kChunk));
            if (EVP_DecryptFinal_ex(ctx, out.data() + n, &n) != 1) state.SkipWithError("open");
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

void Argon2Default(benchmark::State& state) {
    strong::Header header;
    strong::Key master;
    for (auto _ : state) {
        if (!strong::DeriveMasterKey(header, "bench password", &master)) state.SkipWithError("argon2");
    }
}

BENCHMARK_CAPTURE(Ours, seal_libgcrypt, true)->Name("ChaCha20Poly1305/seal/ours_libgcrypt");
BENCHMARK_CAPTURE(Peer, seal_openssl, true)->Name("ChaCha20Poly1305/seal/openssl");
BENCHMARK_CAPTURE(Ours, open_libgcrypt, false)->Name("ChaCha20Poly1305/open/ours_libgcrypt");
BENCHMARK_CAPTURE(Peer, open_openssl, false)->Name("ChaCha20Poly1305/open/openssl");
BENCHMARK(Argon2Default)->Name("Argon2id/64MiB_3passes_1lane")->Unit(benchmark::kMillisecond)->Iterations(4);

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time (user and system) of the commands run so far.
double ChildrenSeconds() {
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = -1;
    double cpu = -1;
};

// Runs the command in dir, its output thrown away: its wall and processor time, negative
// when it failed (exit code 3, some files left out, is no failure: a corpus may hold names
// that differ only in case, which an archive keeps once).
Timing TimeCommand(const fs::path& dir, const std::string& arguments) {
    const std::string line = "cd '" + dir.string() + "' && HEDGEROW_PASSWORD='bench password' exec '" +
                             std::string(HEDGEROW_COMMAND) + "' -q " + arguments + " >/dev/null 2>&1";
    const double cpu_before = ChildrenSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(line.c_str());
    Timing t {Seconds(start), ChildrenSeconds() - cpu_before};
    const bool ok = rc != -1 && WIFEXITED(rc) && (WEXITSTATUS(rc) == 0 || WEXITSTATUS(rc) == 3);
    return ok ? t : Timing {};
}

// The wall and processor time of one Argon2id derivation with the default parameters, best
// of three.
Timing Derivation() {
    strong::Header header;
    strong::Key master;
    Timing best {1e9, 1e9};
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        if (!strong::DeriveMasterKey(header, "bench password", &master)) return Timing {0, 0};
        best.cpu = std::min(best.cpu, static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
        best.wall = std::min(best.wall, Seconds(start));
    }
    return best;
}

void CompareCommands() {
    const char* corpus_env = std::getenv("HEDGEROW_CORPUS");
    const fs::path corpus = fs::absolute(corpus_env ? corpus_env : "build/corpus");
    if (!fs::is_directory(corpus)) {
        std::printf("\nNo corpus at %s (bench/make-corpus.sh makes one): the command comparison is left out.\n",
                    corpus.c_str());
        return;
    }
    const char* threads_env = std::getenv("HEDGEROW_BENCH_THREADS");
    const std::string threads = threads_env ? threads_env : "1";
    size_t files = 0;
    uintmax_t bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        if (e.is_regular_file()) {
            ++files;
            bytes += e.file_size();
        }
    }
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / "hedgerow-strong-bench";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::create_directory_symlink(corpus, work / "corpus");
    const Timing derivation = Derivation();
    struct Kind {
        const char* name;
        const char* cipher;
        int derivations;  // per command
    };
    const Kind kinds[] = {{"none", "-c none", 0}, {"chacha", "-c chacha", 1}};
    Timing add[2] = {{1e9, 1e9}, {1e9, 1e9}};
    Timing extract[2] = {{1e9, 1e9}, {1e9, 1e9}};
    const auto keep_best = [&](Timing& best, const Timing& t, int derivations) {
        best.wall = std::min(best.wall, t.wall - derivations * derivation.wall);
        best.cpu = std::min(best.cpu, t.cpu - derivations * derivation.cpu);
    };
    for (int round = 0; round < 3; ++round) {
        for (int k = 0; k < 2; ++k) {
            const std::string archive = std::string(kinds[k].name) + ".hdg";
            fs::remove(work / archive);
            fs::remove_all(work / "out");
            const Timing a = TimeCommand(work, "a -T " + threads + " " + kinds[k].cipher + " " + archive + " corpus/");
            const Timing x = TimeCommand(work, "x -T " + threads + " -y " + archive + " -o out");
            if (a.wall < 0 || x.wall < 0) {
                std::printf("\nThe command failed (%s); no comparison.\n", kinds[k].name);
                fs::remove_all(work);
                return;
            }
            keep_best(add[k], a, kinds[k].derivations);
            keep_best(extract[k], x, kinds[k].derivations);
        }
    }
    fs::remove_all(work);
    std::printf("\nThe command on %zu files, %.1f MB (-T %s; best of 3; one Argon2id derivation, %.3f s wall and "
                "%.3f s processor time, taken out of each strong command):\n",
                files, static_cast<double>(bytes) / 1e6, threads.c_str(), derivation.wall, derivation.cpu);
    std::printf("  %-8s %10s %10s %10s %10s\n", "", "a wall", "a cpu", "x wall", "x cpu");
    for (int k = 0; k < 2; ++k) {
        std::printf("  %-8s %10.3f %10.3f %10.3f %10.3f\n", kinds[k].name, add[k].wall, add[k].cpu, extract[k].wall,
                    extract[k].cpu);
    }
    std::printf("  chacha / none, wall: a %.3f, x %.3f; processor time: a %.3f, x %.3f (goal: 1.10 or less; on a "
                "busy machine the processor time is the steadier)\n",
                add[1].wall / add[0].wall, extract[1].wall / extract[0].wall, add[1].cpu / add[0].cpu,
                extract[1].cpu / extract[0].cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (!strong::InitCryptoLibrary()) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CompareCommands();
    return 0;
}
