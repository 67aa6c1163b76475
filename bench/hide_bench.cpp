// hide_bench.cpp -- hiding and recovering a 100 KB file in a 10 MB 24-bit BMP picture and
// in a 10 MB 16-bit WAV sound, beside steghide doing the same with the same carriers in
// the same run; then the largest file each can hide in each carrier. The carriers are
// made once with ImageMagick and sox in a scratch directory ($HEDGEROW_BENCH_DIR, else
// /tmp/hedgerow-hide-bench). Run it on a quiet machine: it is timed by the wall clock.
// --benchmark_filter=none gives the capacities alone. steghide hiding 100 KB in the 10 MB
// picture takes about two minutes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "hedgerow.h"
#include "support/external_tools.h"

namespace {

namespace fs = std::filesystem;
using hedgerow::testing::FindOnPath;
using hedgerow::testing::Quoted;
using hedgerow::testing::RunTool;

constexpr size_t kSecretSize = 100 * 1024;
constexpr const char* kPassword = "bench-password";

std::string g_dir;
std::map<std::string, double> g_seconds;  // mean wall time per benchmark

std::string PathOf(const std::string& name) { return g_dir + "/" + name; }

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bytes that do not compress, as a file that is already packed would be.
std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 11);
    }
    return out;
}

bool Shell(const std::string& command) {
    const auto run = RunTool(command);
    if (run.exit_code != 0) std::fprintf(stderr, "failed: %s\n%s\n", command.c_str(), run.output.c_str());
    return run.exit_code == 0;
}

bool PrepareCarriers() {
    for (const char* tool : {"convert", "sox", "steghide"}) {
        if (FindOnPath(tool).empty()) {
            std::fprintf(stderr, "%s is missing: apt-get install imagemagick sox steghide\n", tool);
            return false;
        }
    }
    const char* dir = std::getenv("HEDGEROW_BENCH_DIR");
    g_dir = dir && *dir ? dir : "/tmp/hedgerow-hide-bench";
    fs::create_directories(g_dir);
    // 1826 x 1826 x 3 bytes: 10,003,068 pixel bytes. 56.68 s of 44.1 kHz 16-bit stereo:
    // 9,998,352 sample bytes.
    if (!fs::exists(PathOf("cover.bmp")) &&
        !Shell("convert -seed 7 -size 1826x1826 plasma: -type TrueColor -compress none BMP3:" +
               Quoted(PathOf("cover.bmp")))) {
        return false;
    }
    if (!fs::exists(PathOf("cover.wav")) &&
        !Shell("sox -n -r 44100 -b 16 -c 2 " + Quoted(PathOf("cover.wav")) + " synth 56.68 pinknoise vol 0.5")) {
        return false;
    }
    WriteBytes(PathOf("secret.bin"), NoiseBytes(kSecretSize, 2024));
    return true;
}

void Fresh(const std::string& cover, const std::string& work) {
    fs::copy_file(PathOf(cover), PathOf(work), fs::copy_options::overwrite_existing);
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Record(benchmark::State& state, const std::string& name, double total) {
    g_seconds[name] = total / static_cast<double>(state.iterations());
}

// ---- Hedgerow --------------------------------------------------------------------

bool OurHide(const std::string& carrier, const std::string& file) {
    SetArchiveStatus(0);
    HideFile(PathOf(carrier).c_str(), PathOf(file).c_str(), kPassword);
    return GetArchiveStatus() == 0;
}

bool OurUnhide(const std::string& carrier, const std::string& out) {
    SetOutputPath(g_dir.c_str());
    SetArchiveStatus(0);
    UnhideFile(PathOf(carrier).c_str(), out.c_str(), kPassword);
    return GetArchiveStatus() == 0;
}

void BM_HedgerowHide(benchmark::State& state, const std::string& kind) {
    double total = 0;
    for (auto _ : state) {
        Fresh("cover." + kind, "ours." + kind);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = OurHide("ours." + kind, "secret.bin");
        const double t = Since(start);
        state.SetIterationTime(t);
        total += t;
        if (!ok) state.SkipWithError("HideFile failed");
    }
    Record(state, "hedgerow hide " + kind, total);
}

void BM_HedgerowRecover(benchmark::State& state, const std::string& kind) {
    Fresh("cover." + kind, "ours." + kind);
    if (!OurHide("ours." + kind, "secret.bin")) state.SkipWithError("HideFile failed");
    double total = 0;
    for (auto _ : state) {
        fs::remove(PathOf("ours.out"));
        const auto start = std::chrono::steady_clock::now();
        const bool ok = OurUnhide("ours." + kind, "ours.out");
        const double t = Since(start);
        state.SetIterationTime(t);
        total += t;
        if (!ok || ReadBytes(PathOf("ours.out")) != ReadBytes(PathOf("secret.bin"))) {
            state.SkipWithError("UnhideFile failed");
        }
    }
    Record(state, "hedgerow recover " + kind, total);
}

// ---- steghide --------------------------------------------------------------------

// steghide runs out of stack (a segmentation fault under the usual 8 MiB limit) when it
// hides 100 KB in a 10 MB picture, so it gets an unlimited stack.
bool StegEmbed(const std::string& cover, const std::string& file, const std::string& stego) {
    return RunTool("ulimit -s unlimited; steghide embed -q -f -p " + Quoted(kPassword) + " -cf " + Quoted(PathOf(cover)) + " -ef " +
                   Quoted(PathOf(file)) + " -sf " + Quoted(PathOf(stego)))
               .exit_code == 0;
}

bool StegExtract(const std::string& stego, const std::string& out) {
    return RunTool("ulimit -s unlimited; steghide extract -q -f -p " + Quoted(kPassword) + " -sf " + Quoted(PathOf(stego)) + " -xf " +
                   Quoted(PathOf(out)))
               .exit_code == 0;
}

void BM_SteghideHide(benchmark::State& state, const std::string& kind) {
    double total = 0;
    for (auto _ : state) {
        fs::remove(PathOf("steg." + kind));
        const auto start = std::chrono::steady_clock::now();
        const bool ok = StegEmbed("cover." + kind, "secret.bin", "steg." + kind);
        const double t = Since(start);
        state.SetIterationTime(t);
        total += t;
        if (!ok) state.SkipWithError("steghide embed failed");
    }
    Record(state, "steghide hide " + kind, total);
}

void BM_SteghideRecover(benchmark::State& state, const std::string& kind) {
    if (!StegEmbed("cover." + kind, "secret.bin", "steg." + kind)) state.SkipWithError("steghide embed failed");
    double total = 0;
    for (auto _ : state) {
        fs::remove(PathOf("steg.out"));
        const auto start = std::chrono::steady_clock::now();
        const bool ok = StegExtract("steg." + kind, "steg.out");
        const double t = Since(start);
        state.SetIterationTime(t);
        total += t;
        if (!ok || ReadBytes(PathOf("steg.out")) != ReadBytes(PathOf("secret.bin"))) {
            state.SkipWithError("steghide extract failed");
        }
    }
    Record(state, "steghide recover " + kind, total);
}

// ---- Capacity --------------------------------------------------------------------

// The largest size for which fits(size) holds, by bisection between a size known to
// fit and one known not to.
template <typename Fits>
size_t Largest(size_t fits_size, size_t fails_size, Fits&& fits) {
    while (fails_size - fits_size > 1) {
        const size_t mid = fits_size + (fails_size - fits_size) / 2;
        (fits(mid) ? fits_size : fails_size) = mid;
    }
    return fits_size;
}

size_t OurCapacity(const std::string& kind) {
    const size_t carrier = fs::file_size(PathOf("cover." + kind));
    return Largest(1, carrier / 8, [&](size_t n) {
        WriteBytes(PathOf("probe.bin"), NoiseBytes(n, 7));
        Fresh("cover." + kind, "cap." + kind);
        return OurHide("cap." + kind, "probe.bin");
    });
}

// steghide states its capacity; that figure is reported. It is not checked by hiding a
// file of that size: steghide needed more than 15 GB of memory (and minutes) for that
// in the 10 MB picture, which is more than a shared machine can give.
size_t SteghideCapacity(const std::string& kind) {
    const auto info = RunTool("steghide info -p '' " + Quoted(PathOf("cover." + kind)) + " < /dev/null");
    const size_t at = info.output.find("capacity:");
    double value = 0;
    char unit[8] = {};
    if (at == std::string::npos || std::sscanf(info.output.c_str() + at, "capacity: %lf %7s", &value, unit) != 2) {
        return 0;
    }
    const double scale = std::string(unit) == "KB" ? 1024.0 : std::string(unit) == "MB" ? 1048576.0 : 1.0;
    return static_cast<size_t>(value * scale);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the summary shows as it comes, also in a file
    if (!PrepareCarriers()) return 1;
    for (const std::string kind : {"bmp", "wav"}) {
        benchmark::RegisterBenchmark(("HedgerowHide/" + kind).c_str(), BM_HedgerowHide, kind)
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SteghideHide/" + kind).c_str(), BM_SteghideHide, kind)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("HedgerowRecover/" + kind).c_str(), BM_HedgerowRecover, kind)
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SteghideRecover/" + kind).c_str(), BM_SteghideRecover, kind)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-6s %-8s %12s %12s %10s\n", "", "", "hedgerow s", "steghide s", "ratio");
    for (const std::string kind : {"bmp", "wav"}) {
        for (const std::string step : {"hide", "recover"}) {
            const double ours = g_seconds[std::string("hedgerow ") + step + " " + kind];
            const double theirs = g_seconds[std::string("steghide ") + step + " " + kind];
            std::printf("%-6s %-8s %12.3f %12.3f %9.1fx\n", kind.c_str(), step.c_str(), ours, theirs,
                        ours > 0 ? theirs / ours : 0.0);
        }
    }
    std::printf("\nlargest file (incompressible) that fits (hedgerow: found by hiding; steghide: as it states):\n");
    for (const std::string kind : {"bmp", "wav"}) {
        const size_t carrier = fs::file_size(PathOf("cover." + kind));
        const size_t ours = OurCapacity(kind);
        const size_t theirs = SteghideCapacity(kind);
        std::printf("cover.%s (%zu bytes): hedgerow %zu bytes (%.1f%%), steghide %zu bytes (%.1f%%)\n", kind.c_str(),
                    carrier, ours, 100.0 * static_cast<double>(ours) / static_cast<double>(carrier), theirs,
                    100.0 * static_cast<double>(theirs) / static_cast<double>(carrier));
    }
    for (const char* name : {"ours.bmp", "ours.wav", "steg.bmp", "steg.wav", "cap.bmp", "cap.wav", "probe.bin",
                             "ours.out", "steg.out"}) {
        fs::remove(PathOf(name));
    }
    return 0;
}
