// metadata_extension_test.cpp -- the metadata extension in an entry record's reserved
// bytes: what a record with it holds for a reader that ignores those bytes, and that
// zeros, garbage or a damaged extension are never taken for one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "archive/metadata_extension.h"
#include "archive/records.h"
#include "common/byte_order.h"
#include "common/session.h"
#include "crypto/crc32.h"

namespace hedgerow::archive {
namespace {

UnixMetadata Sample() {
    UnixMetadata meta;
    meta.present = true;
    meta.flags = kMetaSymlink;
    meta.mode = 04755;
    meta.seconds = -86400LL * 365 * 400;  // long before 1970
    meta.nanoseconds = 999999999;
    return meta;
}

constexpr uint32_t kWorkedExampleCrc = 0xD46A0D8B;

// The worked example of docs/metadata-extension.md, byte for byte.
TEST(MetadataExtensionTest, LayoutMatchesTheWorkedExample) {
    uint8_t record[kRecordSize] = {};
    UnixMetadata meta;
    meta.present = true;
    meta.flags = kMetaNameUtf8;
    meta.mode = 0755;
    meta.seconds = 4360000000;  // 2108-02-29 23:06:40 UTC
    meta.nanoseconds = 5;
    WriteMetadata(record, meta);
    const uint8_t expected[28] = {0x68, 0x72, 0x78, 0xE5, 0x01, 0x18, 0x01, 0x00, 0xED, 0x01, 0x00, 0x00, 0x00, 0x52,
                                  0xE0, 0x03, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(record + 368, expected, sizeof expected), 0);
    EXPECT_EQ(Load32Le(record + 428), crypto::Crc32(record + 368, 60));
    EXPECT_EQ(Load32Le(record + 428), kWorkedExampleCrc);
    for (uint32_t i = 396; i < 428; ++i) EXPECT_EQ(record[i], 0) << i;
}

TEST(MetadataExtensionTest, RecordsWithItReadAsBeforeWhenItIsIgnored) {
    Session session;
    ArchiveState archive;
    archive.cipher_id = -1;
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    uint8_t with[kRecordSize] = {};
    uint8_t without[kRecordSize] = {};
    const UnixMetadata meta = Sample();
    for (uint8_t* record : {with, without}) {
        Store32Le(record + kFieldDataCrc, 0x12345678);
        Store32Le(record + kFieldPackedSize, 40);
        Store32Le(record + kFieldUnpackedSize, 50);
        Store32Le(record + kFieldDateTime, 0x00210000);
        Store32Le(record + kFieldAttributes, 0x20);
    }
    ASSERT_TRUE(WriteEntryRecord(session, archive, sink, with, "dir\\a.txt", &meta));
    ASSERT_TRUE(WriteEntryRecord(session, archive, sink, without, "dir\\a.txt"));
    std::fclose(sink);
    // Only the reserved bytes at 368 differ, and the header CRC that covers them holds.
    EXPECT_EQ(std::memcmp(with + 8, without + 8, 368 - 8), 0);
    EXPECT_TRUE(CheckEntryHeaderCrc(with));
    HidFileEntry a {};
    HidFileEntry b {};
    FillEntryFromRecord(&a, with, 0);
    FillEntryFromRecord(&b, without, 0);
    EXPECT_EQ(a.packed_size, b.packed_size);
    EXPECT_EQ(a.unpacked_size, b.unpacked_size);
    EXPECT_EQ(a.date_time, b.date_time);
    EXPECT_EQ(a.data_crc, b.data_crc);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.name_length, b.name_length);
    EXPECT_EQ(a.metadata_flags, static_cast<uint32_t>(HEDGEROW_META_KEPT));
    EXPECT_EQ(a.entry_kind, static_cast<uint32_t>(HEDGEROW_ENTRY_SYMLINK));
    EXPECT_EQ(a.unix_mode, 04755u);
    EXPECT_EQ(static_cast<int64_t>(a.mtime_low | (static_cast<uint64_t>(a.mtime_high) << 32)), meta.seconds);
    EXPECT_EQ(b.metadata_flags, 0u);
    EXPECT_EQ(b.entry_kind, static_cast<uint32_t>(HEDGEROW_ENTRY_FILE));
}

TEST(MetadataExtensionTest, ZerosGarbageAndDamageAreNotTakenForIt) {
    uint8_t record[kRecordSize] = {};
    EXPECT_FALSE(ReadMetadata(record).present);
    std::mt19937 rng(21);
    for (int round = 0; round < 2000; ++round) {
        for (uint32_t i = kFieldMetadata; i < kRecordSize; ++i) record[i] = static_cast<uint8_t>(rng());
        // Some other writer's bytes behind our tag and version.
        if (round % 2 == 0) {
            Store32Le(record + kFieldMetadata, kMetadataTag);
            record[kFieldMetadata + 4] = kMetadataVersion;
            record[kFieldMetadata + 5] = 24;
        }
        EXPECT_FALSE(ReadMetadata(record).present) << round;
    }
    // One flipped bit anywhere in the extension is damage.
    WriteMetadata(record, Sample());
    ASSERT_TRUE(ReadMetadata(record).present);
    for (uint32_t bit = 0; bit < kMetadataSize * 8; ++bit) {
        record[kFieldMetadata + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(ReadMetadata(record).present) << bit;
        record[kFieldMetadata + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    const UnixMetadata back = ReadMetadata(record);
    EXPECT_EQ(back.mode, 04755u);
    EXPECT_EQ(back.seconds, Sample().seconds);
    EXPECT_EQ(back.nanoseconds, 999999999u);
    EXPECT_EQ(back.flags, kMetaSymlink);
}

}  // namespace
}  // namespace hedgerow::archive
