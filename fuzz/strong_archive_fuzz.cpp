// strong_archive_fuzz.cpp -- the readers of the strong formats on arbitrary input: listing
// and extracting strong archives, with the right password and a wrong one, and unpacking
// the strong prepared file of hiding. Sealed records cannot be forged by
// a mutator, so one mode seals what the input says: the harness writes a valid header and
// seals the input's record bodies and data with the right keys, so that everything behind
// the seals (record fields, sizes, names, chunking, the codec stream) meets arbitrary
// bytes too. Invariants: no crash or sanitizer report, nothing written outside the output
// folder, no file larger than its entry's recorded size.
//
// Input: byte 0 picks the mode (bit 0-1: raw with the right password, raw with a wrong one,
// sealed, prepared file; bit 2: extract as well as list; bit 3: check the entries); the rest is the archive (raw),
// a series of (2-byte length, record body, 2-byte length, data) pieces (sealed) or the
// prepared file, whose password is the same.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "api/library_state.h"
#include "archive/open_list.h"
#include "hide/hide_file.h"
#include "ops/strong_archive.h"
#include "strong/format.h"
#include "support/fuzz_scratch.h"
#include "support/test_call.h"

namespace {

using namespace hedgerow;
namespace fs = std::filesystem;

constexpr char kPassword[] = "fuzz";

// The fixed header of the sealed mode: small Argon2 parameters, so that an input costs
// little, and the keys that go with them (derived once).
struct SealedKeys {
    strong::Header header;
    strong::KeySchedule keys;
    uint8_t bytes[strong::kHeaderSize] = {};
    SealedKeys() {
        for (size_t i = 0; i < strong::kIdSize; ++i) header.archive_id[i] = static_cast<uint8_t>(i);
        for (size_t i = 0; i < strong::kSaltSize; ++i) header.salt[i] = static_cast<uint8_t>(0x80 + i);
        header.argon2 = {8, 1, 1};
        strong::Key master;
        if (!strong::DeriveMasterKey(header, kPassword, &master) || !strong::DeriveKeys(header, master, &keys) ||
            !strong::EncodeHeader(header, keys, bytes)) {
            __builtin_trap();
        }
    }
};

const SealedKeys& Keys() {
    static const SealedKeys keys;
    return keys;
}

uint16_t Take16(const uint8_t*& p, size_t& n) {
    if (n < 2) {
        n = 0;
        return 0;
    }
    const auto v = static_cast<uint16_t>(p[0] | p[1] << 8);
    p += 2;
    n -= 2;
    return v;
}

// Seals the input's pieces into an archive with a valid header and end record.
std::vector<uint8_t> SealPieces(const uint8_t* p, size_t n) {
    const SealedKeys& k = Keys();
    std::vector<uint8_t> out(k.bytes, k.bytes + strong::kHeaderSize);
    strong::Aead records;
    if (!records.SetKey(k.keys.records)) __builtin_trap();
    uint64_t index = 0;
    const uint8_t nonce[strong::kNonceSize] = {};
    while (n > 0 && index < 16) {
        const size_t body_length = std::min<size_t>(Take16(p, n), n);
        std::vector<uint8_t> body(p, p + body_length);
        p += body_length;
        n -= body_length;
        body.resize(std::max<size_t>((body.size() + 63) / 64 * 64, 128), 0);
        std::vector<uint8_t> frame(strong::kFrameHeadSize + body.size() + strong::kTagSize, 0);
        const uint32_t magic = strong::kFrameMagic;
        std::memcpy(frame.data(), &magic, 4);
        const auto length = static_cast<uint32_t>(body.size());
        std::memcpy(frame.data() + 4, &length, 4);
        const auto ad = strong::RecordAssociatedData(k.header, index, frame.data());
        std::memcpy(frame.data() + strong::kFrameHeadSize, body.data(), body.size());
        std::span<uint8_t> sealed(frame.data() + strong::kFrameHeadSize, body.size());
        if (!records.Seal(nonce, ad, sealed, sealed, frame.data() + strong::kFrameHeadSize + body.size())) __builtin_trap();
        out.insert(out.end(), frame.begin(), frame.end());
        // The data: the piece's bytes sealed in chunks under the key the body names.
        const size_t data_length = std::min<size_t>(Take16(p, n), n);
        strong::Key data_key;
        std::memcpy(data_key.bytes.data(), body.data() + 48, strong::kKeySize);
        strong::Aead data;
        if (!data.SetKey(data_key)) __builtin_trap();
        size_t left = data_length;
        uint64_t chunk = 0;
        do {
            const size_t size = std::min<size_t>(left, strong::kChunkSize);
            std::vector<uint8_t> piece(p, p + size);
            uint8_t chunk_nonce[strong::kNonceSize];
            strong::DataChunkNonce(chunk++, size == left, chunk_nonce);
            uint8_t tag[strong::kTagSize];
            if (!data.Seal(chunk_nonce, {}, piece, piece, tag)) __builtin_trap();
            out.insert(out.end(), piece.begin(), piece.end());
            out.insert(out.end(), tag, tag + strong::kTagSize);
            p += size;
            n -= size;
            left -= size;
        } while (left > 0);
        ++index;
    }
    strong::Record end;
    end.kind = strong::EntryKind::kEnd;
    const auto frame = strong::EncodeRecordFrame(records, k.header, index, end, nonce);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

// Nothing written outside the output folder.
void CheckConfined(const fs::path& root) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path path = it->path();
        const std::string relative = fs::relative(path, root).generic_string();
        if (relative == "a.arc" || relative.rfind("out", 0) == 0) continue;
        __builtin_trap();  // written outside the output folder
    }
}

// Nothing outside the output folder, and no file larger than the largest entry.
void CheckOutput(const fs::path& root, const fs::path& output, const HidFileList& list) {
    CheckConfined(root);
    std::error_code ignored;
    uint64_t largest = 0;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        largest = std::max<uint64_t>(largest, e->unpacked_size | static_cast<uint64_t>(e->unpacked_size_high) << 32);
    }
    for (auto it = fs::recursive_directory_iterator(output, ignored); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file(ignored) && it->file_size(ignored) > largest) __builtin_trap();
    }
}

// Unpacks the input as a prepared file into the output folder.
void UnpackPrepared(const fs::path& root, const uint8_t* data, size_t size) {
    if (size < hide::kPreparedHeaderSize + 36) return;
    uint32_t memory = 0;
    uint32_t passes = 0;
    std::memcpy(&memory, data + hide::kPreparedHeaderSize + 16, 4);
    std::memcpy(&passes, data + hide::kPreparedHeaderSize + 20, 4);
    if (memory > 256 || passes > 2) return;  // more work than an input may cost
    const std::string path = (root / "a.arc").string();
    testing::WriteScratchFile(path, data, size);
    const fs::path output = root / "out";
    fs::create_directories(output);
    auto st = std::make_unique<LibraryState>();
    std::strcpy(st->session.output_path, (output.string() + "/").c_str());
    (void)hide::UnpackHidden(*testing::HideCall(*st), data, path.c_str(), "hidden", kPassword);
    CheckConfined(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    testing::ClearFuzzScratch();
    const fs::path root = testing::FuzzScratch();
    const std::string path = (root / "a.arc").string();
    if ((mode & 3) == 3) {
        UnpackPrepared(root, data, size);
        return 0;
    }
    const bool sealed = (mode & 3) == 2;
    if (sealed) {
        const std::vector<uint8_t> bytes = SealPieces(data, size);
        testing::WriteScratchFile(path, bytes.data(), bytes.size());
    } else {
        // A header that asks for more work than an input may cost is left alone.
        if (size >= strong::kHeaderSize) {
            uint32_t memory = 0;
            uint32_t passes = 0;
            std::memcpy(&memory, data + 58, 4);
            std::memcpy(&passes, data + 62, 4);
            if (memory > 256 || passes > 2) return 0;
        }
        testing::WriteScratchFile(path, data, size);
    }

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    settings.cipher_id = 3;
    std::strcpy(settings.data_password, (mode & 3) == 1 ? "not it" : kPassword);
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0 || !st->archive.strong) return 0;
    st->archive.workers = 1;  // the pool's threads would cost more than an input's work
    HidFileList list {};
    ops::ListStrongArchive(*testing::OpCall(*st), list, FileMaskList {});
    uint32_t walked = 0;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        ++walked;
        if (strnlen(e->name, sizeof e->name) >= sizeof e->name || e->cipher_id != 3) __builtin_trap();
    }
    if (walked != list.count) __builtin_trap();
    if (mode & 4) {
        const fs::path output = root / "out";
        fs::create_directories(output);
        std::strcpy(st->session.output_path, (output.string() + "/").c_str());
        st->session.options |= arOptRestorePaths;
        st->session.status = 0;
        ops::ReadStrongArchive(*testing::OpCall(*st), FileMaskList {}, ops::ReadMode::kExtract);
        CheckOutput(root, output, list);
    }
    if (mode & 8) {
        st->session.status = 0;
        ops::ReadStrongArchive(*testing::OpCall(*st), FileMaskList {}, ops::ReadMode::kCheck);
    }
    archive::DoneHidFileList(list);
    return 0;
}
