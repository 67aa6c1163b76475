// worked_example_test.cpp -- the worked example of docs/strong-format.md, computed by the
// code: every value the document lists (in its block of "name = hex" lines) must be what
// the code makes from the example's inputs, and the archive it assembles must open and
// extract through the library's own reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "crypto/crc32.h"
#include "strong/format.h"
#include "support/hex.h"
#include "support/ops_host.h"

namespace hedgerow::strong {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}
std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

Bytes Range(uint8_t first, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// The example's inputs (the document's "Inputs").
struct Example {
    std::map<std::string, std::string> values;  // name -> hex, in the order they arise
    std::vector<std::string> order;
    Bytes archive;
    void Put(const std::string& name, const std::string& hex) {
        values[name] = hex;
        order.push_back(name);
    }
};

Example Compute() {
    Example ex;
    const std::string password = "correct horse battery staple";
    Header header;
    const Bytes id = Range(0x10, kIdSize);
    const Bytes salt = Range(0x00, kSaltSize);
    std::copy(id.begin(), id.end(), header.archive_id.begin());
    std::copy(salt.begin(), salt.end(), header.salt.begin());
    header.argon2 = {256, 2, 1};
    header.chunk_size = kChunkSize;

    Key master;
    EXPECT_TRUE(DeriveMasterKey(header, password.c_str(), &master));
    ex.Put("master key", Hex(master.bytes.data(), kKeySize));
    KeySchedule keys;
    EXPECT_TRUE(DeriveKeys(header, master, &keys));
    ex.Put("header key", Hex(keys.header.bytes.data(), kKeySize));
    ex.Put("records key", Hex(keys.records.bytes.data(), kKeySize));
    uint8_t head[kHeaderSize];
    EXPECT_TRUE(EncodeHeader(header, keys, head));
    ex.Put("header crc", Hex(head + 92, 4));
    ex.Put("header hmac", Hex(head + 96, 32));
    ex.Put("header", Hex(head, kHeaderSize));
    ex.archive.assign(head, head + kHeaderSize);

    const std::string content = "Hello, hedgerow!\n";
    Record file;
    file.kind = EntryKind::kFile;
    file.name = "docs\\hello.txt";
    file.attributes = 0x20;
    file.unix_mode = 0644;
    file.mtime_seconds = 1700000000;
    file.mtime_nanoseconds = 123456789;
    file.unpacked_size = content.size();
    file.stream_size = content.size();  // stored: seventeen bytes do not compress
    file.data_length = SealedLength(content.size(), kChunkSize);
    const Bytes data_key = Range(0x20, kKeySize);
    std::copy(data_key.begin(), data_key.end(), file.data_key.bytes.begin());
    Aead records;
    EXPECT_TRUE(records.SetKey(keys.records));
    const Bytes record_nonce = Range(0x40, kNonceSize);
    ex.Put("record 0 body", Hex(EncodeRecordBody(file)));
    const Bytes frame = EncodeRecordFrame(records, header, 0, file, record_nonce.data());
    ex.Put("record 0 associated data", Hex(RecordAssociatedData(header, 0, frame.data())));
    ex.Put("record 0 frame", Hex(frame));
    ex.archive.insert(ex.archive.end(), frame.begin(), frame.end());

    uint8_t nonce[kNonceSize];
    DataChunkNonce(0, true, nonce);
    ex.Put("chunk 0 nonce", Hex(nonce, kNonceSize));
    Aead data;
    EXPECT_TRUE(data.SetKey(file.data_key));
    Bytes sealed(content.begin(), content.end());
    uint8_t tag[kTagSize];
    EXPECT_TRUE(data.Seal(nonce, {}, sealed, sealed, tag));
    sealed.insert(sealed.end(), tag, tag + kTagSize);
    ex.Put("chunk 0 sealed", Hex(sealed));
    ex.archive.insert(ex.archive.end(), sealed.begin(), sealed.end());

    Record end;
    end.kind = EntryKind::kEnd;
    const Bytes end_nonce = Range(0x50, kNonceSize);
    ex.Put("end record body", Hex(EncodeRecordBody(end)));
    const Bytes end_frame = EncodeRecordFrame(records, header, 1, end, end_nonce.data());
    ex.Put("end record associated data", Hex(RecordAssociatedData(header, 1, end_frame.data())));
    ex.Put("end record frame", Hex(end_frame));
    ex.archive.insert(ex.archive.end(), end_frame.begin(), end_frame.end());
    return ex;
}

// The "name = hex" lines of the document's example block (a hex value may continue on the
// lines that follow it, indented).
std::map<std::string, std::string> DocumentValues() {
    std::ifstream in(std::string(HEDGEROW_SOURCE_DIR) + "/docs/strong-format.md");
    std::map<std::string, std::string> values;
    std::string line;
    bool inside = false;
    std::string current;
    while (std::getline(in, line)) {
        if (line.rfind("```example", 0) == 0) {
            inside = true;
            continue;
        }
        if (inside && line.rfind("```", 0) == 0) break;
        if (!inside) continue;
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos && line[0] != ' ') {
            current = line.substr(0, eq);
            values[current] = line.substr(eq + 3);
        } else if (!current.empty()) {
            std::string more;
            for (char c : line) {
                if (c != ' ') more += c;
            }
            values[current] += more;
        }
    }
    return values;
}

TEST(WorkedExampleTest, TheDocumentsValuesAreTheCodes) {
    const Example ex = Compute();
    if (std::getenv("HEDGEROW_PRINT_EXAMPLE") != nullptr) {
        for (const std::string& name : ex.order) std::printf("%s = %s\n", name.c_str(), ex.values.at(name).c_str());
        std::printf("archive = %s\n", Hex(ex.archive).c_str());
    }
    const auto document = DocumentValues();
    ASSERT_FALSE(document.empty()) << "docs/strong-format.md has no example block";
    for (const std::string& name : ex.order) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(document.count(name) > 0);
        EXPECT_EQ(document.at(name), ex.values.at(name));
    }
    ASSERT_TRUE(document.count("archive") > 0);
    EXPECT_EQ(document.at("archive"), Hex(ex.archive));
}

// The example's archive is a real one: the library lists and extracts it.
TEST(WorkedExampleTest, TheExampleArchiveOpens) {
    using namespace hedgerow::testing;
    const Example ex = Compute();
    Host h;
    WriteFile(h.archive, ex.archive);
    ASSERT_EQ(h.Open(MakeSettings(3, "correct horse battery staple")), arOk);
    EXPECT_EQ(h.Names(), std::vector<std::string>{"docs\\hello.txt"});
    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract(), arOk);
    const Bytes back = ReadFile(h.Out("docs/hello.txt"));
    EXPECT_EQ(std::string(back.begin(), back.end()), "Hello, hedgerow!\n");
}

}  // namespace
}  // namespace hedgerow::strong
