// stream_test.cpp -- the stream layer on its own: progress percentages, framing of packed
// and stored payloads (chain block, pieces, pad bytes), cancel and short writes, read
// failures and allocation failures.
#include "codec/stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/codec_harness.h"

namespace hedgerow::codec {
namespace {

using testing::Contents;
using testing::NewState;
using testing::TestCall;
using testing::TmpFile;
using Bytes = std::vector<uint8_t>;

// What the host callbacks saw; one test at a time uses it.
struct HostLog {
    int progress_calls = 0;
    int cancel_at_call = -1;       // answer 0 at this call (0-based)
    std::vector<int32_t> percents;
};
HostLog g_host;

int32_t HEDGEROW_CALL OnProgress(uint32_t, int32_t percent, int32_t) {
    g_host.percents.push_back(percent);
    return g_host.progress_calls++ == g_host.cancel_at_call ? 0 : 1;
}

void Listen(TestCall& st, int cancel_at_call = -1) {
    g_host = HostLog{};
    g_host.cancel_at_call = cancel_at_call;
    st.session.callbacks.progress.proc = OnProgress;
}

Bytes Text(size_t size) {
    std::mt19937 rng(5);
    Bytes out;
    while (out.size() < size) {
        const std::string word = std::to_string(rng() % 3000) + (rng() % 9 == 0 ? "\n" : " ");
        for (char c : word)
            if (out.size() < size) out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

TEST(StreamTest, PercentHalvesLargeOperands) {
    struct Case {
        int32_t done, total, percent;
    };
    const Case cases[] = {{25000000, 30000000, 83}, {50, 200, 25}, {20971519, 20971519, 100},
                          {10, 0, 100}, {0, 0, 100}, {2000000000, 2000000000, 100}, {101, 100, 101}};
    for (const Case& c : cases) EXPECT_EQ(Percent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(StreamTest, PackedOutputFraming) {
    // 8195 packed bytes: one full buffer, then 3 bytes padded to 8 when a cipher is in use,
    // behind an 8-byte chain block for ciphers 1 and 2.
    struct Case {
        int32_t cipher;
        size_t file_size;
    };
    for (const Case c : {Case{-1, 8195}, Case{0, 8200}, Case{1, 8208}, Case{2, 8208}}) {
        SCOPED_TRACE(c.cipher);
        auto st = NewState(c.cipher);
        TmpFile out;
        ASSERT_TRUE(AllocOutputBuffer(st->stream));
        ResetPackedOutput(st->stream);
        st->stream.output = out.f;
        st->stream.unpacked_size = INT32_MAX;
        st->stream.cipher_id = c.cipher;
        st->stream.chain_pending = c.cipher >= 1;
        crypto::SetEncipherKey(st->cipher, st->archive.data_password, c.cipher);
        InitBitWriter(st->stream);
        Bytes data = Text(8195);
        for (uint8_t b : data) PutBits(st->stream, 8, b);
        PutBits(st->stream, 3, 5);  // a partial byte goes out padded with zero bits: 101 00000
        EXPECT_TRUE(FlushBitWriter(st->stream));
        data.push_back(0xA0);
        Bytes file = Contents(out.f);
        ASSERT_EQ(file.size(), c.file_size + (c.cipher == -1 ? 1 : 0));
        EXPECT_EQ(st->stream.packed_count, static_cast<int32_t>(file.size()));
        // Read it back through the packed reader.
        st->stream.packed_in = out.f;
        std::rewind(out.f);
        st->stream.packed_left = static_cast<uint32_t>(file.size());
        st->stream.chain_pending = c.cipher >= 1;
        crypto::SetDecipherKey(st->cipher, st->archive.data_password, c.cipher);
        Bytes back(file.size() + 8);
        int32_t got = 0;
        for (int32_t n; (n = ReadPacked(st->stream, back.data() + got, 8192)) > 0;) got += n;
        back.resize(data.size());
        EXPECT_EQ(back, data);
    }
}

TEST(StreamTest, EmptyFlushWritesOnlyThePendingChainBlockAndReports) {
    auto st = NewState(2);
    Listen(*st);
    TmpFile out;
    ASSERT_TRUE(AllocOutputBuffer(st->stream));
    ResetPackedOutput(st->stream);
    st->stream.output = out.f;
    st->stream.unpacked_size = 100;
    st->stream.cipher_id = 2;
    st->stream.chain_pending = true;
    crypto::SetEncipherKey(st->cipher, st->archive.data_password, 2);
    EXPECT_TRUE(FlushPackedBuffer(st->stream, 0, 0));
    EXPECT_TRUE(FlushPackedBuffer(st->stream, 0, 0));
    EXPECT_EQ(Contents(out.f).size(), 8u);
    EXPECT_EQ(st->stream.packed_count, 8);
    EXPECT_EQ(g_host.progress_calls, 2);
}

TEST(StreamTest, StoredPayloadFramingAndCopyBack) {
    struct Case {
        size_t size;
        int32_t cipher;
        int32_t packed;
    };
    const Case cases[] = {{100, -1, 104}, {100, 1, 112},     {100, 2, 112},       {32512, -1, 32512},
                          {32512, 0, 32512}, {32513, -1, 32520}, {65030, 2, 8 + 65032}, {0, 1, 8}, {0, -1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " cipher " + std::to_string(c.cipher));
        auto st = NewState(c.cipher);
        const Bytes data = Text(c.size);
        TmpFile src;
        TmpFile out;
        if (!data.empty()) std::fwrite(data.data(), 1, data.size(), src.f);
        std::rewind(src.f);
        st->stream.source_file = src.f;
        st->stream.output = out.f;
        BeginEntryCipher(st->stream, c.cipher, st->archive.data_password, Direction::kEncipher);
        EXPECT_EQ(StoreSourceFile(st->stream), c.packed);
        EXPECT_EQ(~st->stream.data_crc, crypto::Crc32(data.data(), data.size()));
        const Bytes payload = Contents(out.f);
        ASSERT_EQ(payload.size(), static_cast<size_t>(c.packed));
        // The size rule sends this payload to the stored copy, which drops the pad.
        const auto back = testing::Expand(*st, payload, static_cast<int32_t>(c.size));
        EXPECT_TRUE(back.ok);
        EXPECT_EQ(back.bytes, data);
        EXPECT_EQ(back.crc, crypto::Crc32(data.data(), data.size()));
    }
}

TEST(StreamTest, CancelWhileCompressingStopsWriting) {
    auto st = NewState(-1);
    Listen(*st, 0);
    const auto packed = testing::Compress(*st, Text(400000));
    EXPECT_FALSE(packed.ok);
    EXPECT_EQ(st->session.status, static_cast<uint16_t>(Status::kCancelled));
    EXPECT_EQ(g_host.progress_calls, 1);
}

TEST(StreamTest, CancelWhileCopyingStoredStopsAfterThatPiece) {
    auto st = NewState(0);
    const Bytes data = Text(100000);
    TmpFile src;
    TmpFile out;
    std::fwrite(data.data(), 1, data.size(), src.f);
    std::rewind(src.f);
    st->stream.source_file = src.f;
    st->stream.output = out.f;
    BeginEntryCipher(st->stream, 0, st->archive.data_password, Direction::kEncipher);
    ASSERT_GT(StoreSourceFile(st->stream), 0);
    Listen(*st, 0);
    const auto back = testing::Expand(*st, Contents(out.f), 100000);
    EXPECT_EQ(st->session.status, static_cast<uint16_t>(Status::kCancelled));
    EXPECT_EQ(back.bytes, Bytes(data.begin(), data.begin() + kStoredPiece));
    EXPECT_EQ(g_host.progress_calls, 1);
}

TEST(StreamTest, CancelAtAWindowFlushStopsDecoding) {
    auto st = NewState(-1);
    const Bytes data = Text(3000000);
    const auto packed = testing::Compress(*st, data);
    ASSERT_TRUE(packed.ok);
    Listen(*st, 0);
    const auto back = testing::Expand(*st, packed.payload, 3000000);
    EXPECT_EQ(st->session.status, static_cast<uint16_t>(Status::kCancelled));
    EXPECT_EQ(g_host.progress_calls, 1);
    EXPECT_GT(back.bytes.size(), 1000000u);
    EXPECT_LT(back.bytes.size(), 1100000u);
}

TEST(StreamTest, WriteReadAndAllocationFailuresSetTheirStatus) {
    using platform::FaultKind;
    struct Case {
        const char* name;
        FaultKind kind;
        bool compress;   // else expand
        Status status;
        int at = 0;      // which call of the kind fails
    };
    const Case cases[] = {
        {"write of the chain block", FaultKind::kWrite, true, Status::kWriteError, 0},
        {"write of packed output", FaultKind::kWrite, true, Status::kWriteError, 1},
        {"write of unpacked output", FaultKind::kWrite, false, Status::kWriteError},
        {"read of the source", FaultKind::kRead, true, Status::kIoError},
        {"read of packed data", FaultKind::kRead, false, Status::kIoError},
        {"encoder allocation", FaultKind::kAlloc, true, Status::kNoMemory},
        {"decoder allocation", FaultKind::kAlloc, false, Status::kNoMemory},
    };
    const Bytes data = Text(200000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto st = NewState(1);
        auto fresh = NewState(1);  // before the plan: the test program's allocations pass its points too
        testing::PackedEntry packed;
        if (!c.compress) packed = testing::Compress(*st, data);
        platform::FaultPlan plan;
        plan.fail_at[static_cast<int>(c.kind)] = c.at;
        const auto previous = platform::SetFaultPlan(plan);
        if (c.compress) {
            EXPECT_FALSE(testing::Compress(*fresh, data).ok);
            EXPECT_EQ(fresh->session.status, static_cast<uint16_t>(c.status));
        } else {
            EXPECT_FALSE(testing::Expand(*st, packed.payload, 200000).ok);
            EXPECT_EQ(st->session.status, static_cast<uint16_t>(c.status));
        }
        platform::SetFaultPlan(previous);
    }
}

}  // namespace
}  // namespace hedgerow::codec
