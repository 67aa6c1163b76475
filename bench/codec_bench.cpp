// codec_bench.cpp -- our codec at every level against zlib levels 1, 6 and 9 and liblzma
// preset 6 on the same corpus of real files (bench/make-corpus.sh), in one run: compressed
// size, compression and decompression throughput. Every file is one entry, compressed and
// expanded on its own, in memory (anonymous memory streams stand in for the archive file).
// After the table, the goals of the levels as ratios between rows of this run (speeds are
// CPU-time throughputs of the means).
//
//   bench/make-corpus.sh build/corpus
//   build/bench/bench/codec_bench [--benchmark_filter=...]    (HEDGEROW_CORPUS=dir to move it)
//
// Throughput counts unpacked bytes; "packed" is the corpus's total packed size.
#include <benchmark/benchmark.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "support/temp_dir.h"
#include "support/test_call.h"

namespace {

using hedgerow::testing::TestCall;
namespace codec = hedgerow::codec;

struct Corpus {
    std::vector<std::vector<uint8_t>> files;
    size_t total = 0;
};

const Corpus& TheCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const char* dir = std::getenv("HEDGEROW_CORPUS");
        const std::string root = dir ? dir : "build/corpus";
        std::vector<std::filesystem::path> paths;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(root, ec))
            if (e.is_regular_file()) paths.push_back(e.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& p : paths) {
            c.files.push_back(hedgerow::testing::ReadFile(p.string()));
            c.total += c.files.back().size();
        }
        if (c.files.empty()) std::fprintf(stderr, "codec_bench: no corpus in %s (run bench/make-corpus.sh)\n", root.c_str());
        return c;
    }();
    return corpus;
}

// A memory stream over a caller's buffer.
struct MemFile {
    std::FILE* f = nullptr;
    MemFile(void* data, size_t size, const char* mode) : f(fmemopen(data, size, mode)) {}
    ~MemFile() {
        if (f) std::fclose(f);
    }
};

struct Packed {
    std::vector<uint8_t> bytes;
    int32_t packed_size = 0;
};

// keep: copy the payload out (the timed loop only needs its size, as with zlib's rows).
Packed OurCompress(TestCall& st, const std::vector<uint8_t>& file, std::vector<uint8_t>& scratch, bool keep = true) {
    Packed out;
    // fmemopen needs a non-empty buffer; a read-only stream does not write to it.
    MemFile src(file.empty() ? nullptr : const_cast<uint8_t*>(file.data()), file.size(), "rb");
    if (file.empty()) src.f = std::tmpfile();
    MemFile dst(scratch.data(), scratch.size(), "w+b");
    st.stream.source_file = src.f;
    st.stream.output = dst.f;
    codec::BeginEntryCipher(st.stream, st.archive.cipher_id, "", codec::Direction::kEncipher);
    if (!codec::CompressSource(st.encoder, st.stream, &out.packed_size)) std::abort();
    std::fflush(dst.f);
    if (keep) out.bytes.assign(scratch.begin(), scratch.begin() + out.packed_size);
    return out;
}

// packed.bytes has 8 bytes of slack behind the payload (fmemopen needs a non-empty buffer).
void OurExpand(TestCall& st, Packed& packed, std::vector<uint8_t>& scratch, int32_t size) {
    const size_t n = packed.bytes.size() - 8;
    MemFile src(packed.bytes.data(), n == 0 ? 1 : n, "rb");
    MemFile dst(scratch.data(), scratch.size(), "wb");
    st.stream.packed_in = src.f;
    st.stream.output = dst.f;
    st.stream.packed_left = static_cast<uint32_t>(n);
    st.stream.unpacked_left = size;
    st.stream.unpacked_size = size;
    codec::BeginEntryCipher(st.stream, st.archive.cipher_id, "", codec::Direction::kDecipher);
    if (!codec::ExpandEntry(st.decoder, st.stream)) std::abort();
}

std::unique_ptr<TestCall> CodecState(int level) {
    auto st = std::make_unique<TestCall>();
    st->archive.cipher_id = hedgerow::crypto::kCipherNone;
    st->encoder.level = level;
    if (!codec::AllocOutputBuffer(st->stream) || !codec::AllocEncoderTables(st->encoder, st->stream) ||
        !codec::AllocDecoder(st->decoder, st->stream)) {
        std::abort();
    }
    return st;
}

size_t LargestFile(const Corpus& c) {
    size_t n = 0;
    for (const auto& f : c.files) n = std::max(n, f.size());
    return n;
}

void BM_OurCompress(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    auto st = CodecState(static_cast<int>(state.range(0)));
    std::vector<uint8_t> scratch(LargestFile(c) + 65536);
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& f : c.files) packed += static_cast<size_t>(OurCompress(*st, f, scratch, false).packed_size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.total));
    state.counters["packed"] = static_cast<double>(packed);
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(c.total);
    codec::FreeEncoderTables(st->encoder);
}

void BM_OurExpand(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    auto st = CodecState(static_cast<int>(state.range(0)));
    std::vector<uint8_t> scratch(LargestFile(c) + 65536);
    std::vector<Packed> packed;
    for (const auto& f : c.files) {
        packed.push_back(OurCompress(*st, f, scratch));
        packed.back().bytes.resize(packed.back().bytes.size() + 8);
    }
    // Check every file once, outside the timing.
    for (size_t i = 0; i < c.files.size(); ++i) {
        OurExpand(*st, packed[i], scratch, static_cast<int32_t>(c.files[i].size()));
        if (~st->stream.data_crc != hedgerow::crypto::Crc32(c.files[i].data(), c.files[i].size())) std::abort();
    }
    for (auto _ : state) {
        for (size_t i = 0; i < c.files.size(); ++i)
            OurExpand(*st, packed[i], scratch, static_cast<int32_t>(c.files[i].size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.total));
}

// zlib's own stream format (deflate with an Adler-32 check), one call per file.
void BM_ZlibCompress(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    const int level = static_cast<int>(state.range(0));
    std::vector<uint8_t> out(compressBound(LargestFile(c)) + 64);
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& f : c.files) {
            uLongf n = out.size();
            if (compress2(out.data(), &n, f.data(), f.size(), level) != Z_OK) std::abort();
            packed += n;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.total));
    state.counters["packed"] = static_cast<double>(packed);
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(c.total);
}

void BM_ZlibExpand(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    const int level = static_cast<int>(state.range(0));
    std::vector<std::vector<uint8_t>> packed;
    for (const auto& f : c.files) {
        std::vector<uint8_t> out(compressBound(f.size()) + 64);
        uLongf n = out.size();
        if (compress2(out.data(), &n, f.data(), f.size(), level) != Z_OK) std::abort();
        out.resize(n);
        packed.push_back(std::move(out));
    }
    std::vector<uint8_t> scratch(LargestFile(c) + 64);
    for (auto _ : state) {
        for (size_t i = 0; i < c.files.size(); ++i) {
            uLongf n = scratch.size();
            if (uncompress(scratch.data(), &n, packed[i].data(), packed[i].size()) != Z_OK || n != c.files[i].size())
                std::abort();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.total));
}

// liblzma's raw-less .xz format at a preset, one call per file.
void BM_LzmaCompress(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    const auto preset = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> out(lzma_stream_buffer_bound(LargestFile(c)) + 64);
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& f : c.files) {
            size_t n = 0;
            if (lzma_easy_buffer_encode(preset, LZMA_CHECK_CRC32, nullptr, f.data(), f.size(), out.data(), &n,
                                        out.size()) != LZMA_OK)
                std::abort();
            packed += n;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.total));
    state.counters["packed"] = static_cast<double>(packed);
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(c.total);
}

}  // namespace

BENCHMARK(BM_OurCompress)->DenseRange(1, 9)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZlibCompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_OurExpand)->DenseRange(1, 9)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_LzmaCompress)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZlibExpand)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

namespace {

// The console table, then the goals of the levels as ratios of its rows.
class GoalReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "mean") continue;
            const std::string key = r.run_name.function_name + "/" + r.run_name.args;
            speed_[key] = Counter(r, "bytes_per_second");
            packed_[key] = Counter(r, "packed");
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nGoals (ratios of the rows above)\n%-44s %10s %8s %s\n", "goal", "measured", "target", "met");
        Goal("level 1 speed / zlib 6 speed", Ratio(speed_, "BM_OurCompress/1", "BM_ZlibCompress/6"), 4.0, true);
        Goal("level 1 size / zlib 1 size", Ratio(packed_, "BM_OurCompress/1", "BM_ZlibCompress/1"), 1.0, false);
        Goal("level 3 speed / zlib 6 speed", Ratio(speed_, "BM_OurCompress/3", "BM_ZlibCompress/6"), 2.0, true);
        Goal("level 3 size / zlib 6 size", Ratio(packed_, "BM_OurCompress/3", "BM_ZlibCompress/6"), 1.0, false);
        Goal("level 9 speed / liblzma 6 speed", Ratio(speed_, "BM_OurCompress/9", "BM_LzmaCompress/6"), 3.0, true);
        Goal("level 9 size / level 5 size", Ratio(packed_, "BM_OurCompress/9", "BM_OurCompress/5"), 0.95, false);
        for (int level = 1; level <= 9; ++level) {
            const std::string row = "BM_OurExpand/" + std::to_string(level);
            Goal("level " + std::to_string(level) + " expand speed / zlib 6 expand speed",
                 Ratio(speed_, row, "BM_ZlibExpand/6"), 1.0, true);
        }
    }

private:
    static double Counter(const Run& r, const char* name) {
        const auto it = r.counters.find(name);
        return it == r.counters.end() ? 0.0 : static_cast<double>(it->second);
    }
    static double Ratio(const std::map<std::string, double>& m, const std::string& a, const std::string& b) {
        const auto x = m.find(a);
        const auto y = m.find(b);
        if (x == m.end() || y == m.end() || y->second == 0) return -1;  // a row was not run
        return x->second / y->second;
    }
    static void Goal(const std::string& what, double ratio, double target, bool at_least) {
        if (ratio < 0) return;
        const bool met = at_least ? ratio >= target : ratio <= target;
        std::printf("%-44s %10.3f %s%6.2f %s\n", what.c_str(), ratio, at_least ? ">=" : "<=", target, met ? "yes" : "NO");
    }

    std::map<std::string, double> speed_;
    std::map<std::string, double> packed_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    GoalReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
