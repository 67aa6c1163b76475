// sfx_program_fuzz.cpp -- what the self-extractor program does with its own file before
// it writes a byte: finds the configuration blocks behind the executable image, checks
// the seal, opens the archive behind them, lists it and checks every entry (deciphered,
// expanded and compared with its CRC, written nowhere).
//
// Input byte 0 picks the shape of the rest:
//   bit 0 clear  the whole file as found on disk (headers, blocks, archive: all arbitrary);
//   bit 0 set    an archive, which the harness puts behind a minimal ELF image and seals
//                as our module does, so that the archive checks run on arbitrary archives
//                whatever the seal would say; bit 1 adds the spanning tail, bit 2 gives
//                the data password up front (else the host answers when asked), bit 3
//                seals with one file fewer than the archive lists.
// Checks: the checks write nothing (the scratch folder holds the input file only), every
// listed entry lies inside the file, and a listing longer than the sealed count is
// refused before any entry is checked.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/control.h"
#include "api/library_state.h"
#include "archive/open_list.h"
#include "ops/context.h"
#include "ops/extract.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"
#include "support/fuzz_scratch.h"

namespace {

using namespace hedgerow;

constexpr size_t kImageSize = 64;
int g_key_answers = 0;

int32_t HEDGEROW_CALL DataPassword(uint32_t, char* password, const char*) {
    if (g_key_answers-- <= 0) return 0;
    std::strcpy(password, "pw");
    return 1;
}

// An ELF header that describes a 64-byte image: no program headers, an empty section
// header table right behind the header.
void PutImage(std::vector<uint8_t>& file) {
    file.assign(kImageSize, 0);
    std::memcpy(file.data(), "\177ELF", 4);
    file[4] = 2;  // 64-bit
    file[5] = 1;  // little endian
    file[40] = kImageSize;  // section headers at 64, none of them
}

// Puts our plain blocks (and the spanning tail) behind the image and the archive behind
// them, writes the file and seals it with files as the count. False when sealing failed.
bool WriteSealed(const std::string& path, const uint8_t* archive, size_t size, bool span, uint32_t files) {
    std::vector<uint8_t> file;
    PutImage(file);
    sfxblocks::SealPlan plan;
    plan.tail = span ? sfxblocks::kSpanTailSize : 0;
    std::memcpy(plan.blocks, sfxblocks::kSfxBlockMagic, sizeof sfxblocks::kSfxBlockMagic);
    plan.blocks[sfxblocks::kTailLengthOffset] = static_cast<uint8_t>(plan.tail);
    std::memcpy(plan.blocks + sfxblocks::kBlock1Size + sfxblocks::kBlock2Size, sfxblocks::kSfxBlockMagic,
                sizeof sfxblocks::kSfxBlockMagic);
    file.insert(file.end(), plan.blocks, plan.blocks + sfxblocks::kBlocksSize);
    if (span) {
        const uint8_t disk[4] = {0x00, 0x00, 0x10, 0x00};
        file.insert(file.end(), sfxblocks::kSpanTailMagic, sfxblocks::kSpanTailMagic + 8);
        file.insert(file.end(), disk, disk + 4);
        file.resize(file.size() + sfxblocks::kSpanTailSize - 12, 0);
    }
    plan.length = file.size();
    file.insert(file.end(), archive, archive + size);
    testing::WriteScratchFile(path, file.data(), file.size());
    platform::File out = platform::OpenFile(path.c_str(), "r+b");
    return out && sfxblocks::SealFile(out.get(), path.c_str(), plan, files) == sfxblocks::SealOutcome::kSealed;
}

uint32_t CountEntries(const std::string& path) {
    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0) return 0;
    HidFileList list {};
    // (a failed listing keeps what it read so far, to be released as well)
    const uint32_t count = archive::ListAllEntries(st->session, st->archive, list) ? list.count : 0;
    archive::DoneHidFileList(list);
    return count;
}

// Nothing but the input file in the scratch folder.
void CheckNothingWritten() {
    for (const auto& entry : std::filesystem::directory_iterator(testing::FuzzScratch())) {
        if (entry.path().filename() != "self") __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    testing::ClearFuzzScratch();
    const std::string path = (testing::FuzzScratch() / "self").string();
    if (mode & 1) {
        // The count the module would seal: the archive's own, or one fewer.
        testing::WriteScratchFile(path, data, size);
        uint32_t files = CountEntries(path);
        if ((mode & 8) && files > 0) --files;
        if (!WriteSealed(path, data, size, (mode & 2) != 0, files)) __builtin_trap();  // our sealer must seal
    } else {
        testing::WriteScratchFile(path, data, size);
    }

    uint32_t tail = 0;
    uint32_t files = 0;
    {
        platform::File self = platform::OpenFile(path.c_str(), "rb");
        if (!self) __builtin_trap();
        // (either kind of image, whatever this system's own programs are)
        uint64_t image = sfxblocks::ElfImageLength(self.get());
        if (image == 0) image = sfxblocks::PeImageLength(self.get());
        const sfxblocks::SealCheck seal = sfxblocks::CheckSealedFile(self.get(), image, &tail, &files);
        if ((mode & 1) && seal != sfxblocks::SealCheck::kSound) __builtin_trap();  // what we sealed must check
        if (seal != sfxblocks::SealCheck::kSound) return 0;
    }

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    if (mode & 4) std::strcpy(settings.data_password, "pw");
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0) return 0;
    HidFileList list {};
    if (archive::ListAllEntries(st->session, st->archive, list)) {
        const uint64_t file_size = std::filesystem::file_size(path);
        for (const HidFileEntry* e = list.first; e; e = e->next) {
            if (static_cast<uint64_t>(e->record_offset) + e->record_length + e->packed_size > file_size) __builtin_trap();
        }
        // The program refuses more entries than it was sealed with before checking any.
        if (list.count <= files) {
            g_key_answers = 2;
            st->session.callbacks.crypt_key = {0, DataPassword};
            ops::Context cx(st->session, st->archive);
            (void)ops::CheckEntries(cx, list);
        }
    }
    archive::DoneHidFileList(list);
    CheckNothingWritten();
    return 0;
}
