// archive_extract_fuzz.cpp -- extracts every entry of an arbitrary archive into a scratch
// folder. Checks that nothing is ever written outside the output folder and that no
// temporary file is left behind, whatever the archive holds. With the first byte 0xFF
// the rest is instead the content of two files that our writer packs: that archive,
// untouched, must extract to exactly those bytes.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "api/library_state.h"
#include "archive/open_list.h"
#include "api/control.h"
#include "names/masks.h"
#include "ops/compress.h"
#include "ops/create.h"
#include "ops/extract.h"
#include "support/fuzz_scratch.h"
#include "support/test_call.h"

namespace {

int g_key_answers = 0;

int32_t HEDGEROW_CALL DataPassword(uint32_t, char* password, const char*) {
    if (g_key_answers-- <= 0) return 0;
    std::strcpy(password, "pw");
    return 1;
}

int32_t HEDGEROW_CALL Replace(uint32_t answer, const HedgerowFindData*, const HedgerowFindData*) {
    return static_cast<int32_t>(answer);
}

bool LooksTemporary(const std::string& name) {
    const size_t dot = name.find(".$HW");
    if (dot == std::string::npos || dot == 0 || dot > 5 || dot + 4 != name.size()) return false;
    for (size_t i = 0; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

// Nothing outside the output folder, and no temporary file left, unless an entry itself
// has such a name.
void CheckScratch(const std::set<std::string>& entry_names) {
    namespace fs = std::filesystem;
    const fs::path root = hedgerow::testing::FuzzScratch();
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path relative = fs::relative(it->path(), root);
        const std::string text = relative.generic_string();
        if (text != "a.arc" && text != "out" && text.rfind("out/", 0) != 0 && text != "in" &&
            text.rfind("in/", 0) != 0) {
            __builtin_trap();  // outside the output
        }
        const std::string leaf = it->path().filename().string();
        if (LooksTemporary(leaf) && entry_names.count(leaf) == 0) {
            std::fprintf(stderr, "left behind: %s\n", text.c_str());
            __builtin_trap();
        }
    }
}

std::vector<uint8_t> ReadBack(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (!f) __builtin_trap();  // a packed file that did not come back
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

// Our writer's archive of two files, untouched, gives the files back.
void RoundTrip(const uint8_t* data, size_t size) {
    using namespace hedgerow;
    if (size < 2) return;
    const int32_t cipher = static_cast<int32_t>(data[0] % 4) - 1;
    const bool lock = (data[0] & 4) != 0;
    const size_t split = data[1] % (size - 1);
    const uint8_t* content = data + 2;
    const size_t length = size - 2;
    const std::filesystem::path root = testing::FuzzScratch();
    std::filesystem::create_directories(root / "in");
    testing::WriteScratchFile(root / "in" / "a.bin", content, std::min(split, length));
    testing::WriteScratchFile(root / "in" / "b.bin", content + std::min(split, length), length - std::min(split, length));
    const std::string path = (root / "a.arc").string();

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    settings.cipher_id = cipher;
    settings.lock_headers = lock ? 1 : 0;
    std::strcpy(settings.data_password, "pw");
    std::strcpy(settings.header_password, "secret");
    archive::CreateHidFile(st->session, st->archive, path.c_str(), &settings);
    SetInputPath(st->session, (root / "in").string().c_str());
    FileMaskList masks {};
    (void)names::AddFileMask(st->session, "a.bin", masks);
    (void)names::AddFileMask(st->session, "b.bin", masks);
    ops::CompressFileMaskListHid(*hedgerow::testing::OpCall(*st), masks);
    names::DoneFileMaskList(masks);
    if (st->session.status != 0) __builtin_trap();

    st = std::make_unique<LibraryState>();
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0) __builtin_trap();
    SetOutputPath(st->session, (root / "out").string().c_str());
    ops::ExtractFileMaskListHid(*hedgerow::testing::OpCall(*st), FileMaskList {});
    if (st->session.status != 0) __builtin_trap();
    for (const char* name : {"a.bin", "b.bin"}) {
        if (ReadBack(root / "out" / name) != ReadBack(root / "in" / name)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hedgerow;
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    testing::ClearFuzzScratch();
    const std::filesystem::path root = testing::FuzzScratch();
    std::filesystem::create_directories(root / "out");
    if (mode == 0xFF) {
        RoundTrip(data, size);
        CheckScratch({});
        return 0;
    }
    const std::string path = (root / "a.arc").string();
    testing::WriteScratchFile(path, data, size);

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    settings.cipher_id = 2;
    if (mode & 1) std::strcpy(settings.data_password, "pw");
    std::strcpy(settings.header_password, "secret");
    archive::InitHidFile(st->session, st->archive, path.c_str(), &settings);
    if (st->session.status != 0) return 0;
    st->session.callbacks.crypt_key = {0, DataPassword};
    st->session.callbacks.ok_to_replace = {static_cast<uint32_t>((mode >> 2) & 3), Replace};
    g_key_answers = 2;
    if (mode & 2) OptionsOn(st->session, kOptRestorePaths);
    SetOutputPath(st->session, (root / "out").string().c_str());
    std::set<std::string> entry_names;
    HidFileList list {};
    archive::BuildHidFileList(st->session, st->archive, list, FileMaskList {});
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        const std::string name = e->name;
        entry_names.insert(name.substr(name.find_last_of("\\/:") == std::string::npos ? 0 : name.find_last_of("\\/:") + 1));
    }
    archive::DoneHidFileList(list);
    st->session.status = 0;
    ops::ExtractFileMaskListHid(*hedgerow::testing::OpCall(*st), FileMaskList {});
    CheckScratch(entry_names);
    return 0;
}
