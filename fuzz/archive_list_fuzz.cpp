// archive_list_fuzz.cpp -- opens and lists arbitrary bytes as an archive, plain or
// locked, with and without a header password and a host that answers for it. Checks
// that every listed entry is well formed and lies inside the file.
#include <cstdint>
#include <cstring>
#include <string>

#include "api/library_state.h"
#include "archive/open_list.h"
#include "names/masks.h"
#include "support/fuzz_scratch.h"

namespace {

int g_head_answers = 0;

int32_t HEDGEROW_CALL HeadPassword(uint32_t, char* password, const char*) {
    if (g_head_answers-- <= 0) return 0;
    std::strcpy(password, "secret");
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hedgerow;
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    testing::ClearFuzzScratch();
    const std::string path = (testing::FuzzScratch() / "a.arc").string();
    testing::WriteScratchFile(path, data, size);

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    settings.cipher_id = 2;
    std::strcpy(settings.data_password, "pw");
    if (mode & 1) std::strcpy(settings.header_password, "secret");
    if (mode & 2) st->session.callbacks.head_crypt_key = {1, HeadPassword};
    g_head_answers = 2;
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0) return 0;

    FileMaskList masks {};
    if (mode & 4) {
        (void)names::AddFileMask(st->session, "*.TXT", masks);
        (void)names::AddFileMask(st->session, "DIR\\*.*", masks);
    }
    HidFileList list {};
    archive::BuildHidFileList(st->session, st->archive, list, masks);
    uint32_t walked = 0;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        ++walked;
        if (strnlen(e->name, sizeof e->name) >= sizeof e->name) __builtin_trap();
        if (static_cast<uint64_t>(e->record_offset) + e->record_length + e->packed_size > size) __builtin_trap();
        if (e->record_copy == nullptr || e->record_tag != 77) __builtin_trap();
    }
    if (walked != list.count) __builtin_trap();
    archive::DoneHidFileList(list);
    names::DoneFileMaskList(masks);
    return 0;
}
