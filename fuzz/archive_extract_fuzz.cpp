// archive_extract_fuzz.cpp -- extracts every entry of an arbitrary archive into a scratch
// folder. Checks that nothing is ever written outside the output folder and that no
// temporary file is left behind, whatever the archive holds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "archive/open_list.h"
#include "frame/control.h"
#include "ops/extract.h"
#include "support/fuzz_scratch.h"

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
        if (text != "a.arc" && text != "out" && text.rfind("out/", 0) != 0) __builtin_trap();  // outside the output
        const std::string leaf = it->path().filename().string();
        if (LooksTemporary(leaf) && entry_names.count(leaf) == 0) {
            std::fprintf(stderr, "left behind: %s\n", text.c_str());
            __builtin_trap();
        }
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
    const std::string path = (root / "a.arc").string();
    testing::WriteScratchFile(path, data, size);
    std::filesystem::create_directories(root / "out");

    auto st = std::make_unique<LibraryState>();
    HidFileSettings settings {};
    settings.cipher_id = 2;
    if (mode & 1) std::strcpy(settings.data_password, "pw");
    std::strcpy(settings.header_password, "secret");
    archive::InitHidFile(*st, path.c_str(), &settings);
    if (st->session.status != 0) return 0;
    st->session.callbacks.crypt_key = {0, DataPassword};
    st->session.callbacks.ok_to_replace = {static_cast<uint32_t>((mode >> 2) & 3), Replace};
    g_key_answers = 2;
    if (mode & 2) OptionsOn(st->session, kOptRestorePaths);
    SetOutputPath(st->session, (root / "out").string().c_str());
    std::set<std::string> entry_names;
    HidFileList list {};
    archive::BuildHidFileList(*st, list, FileMaskList {});
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        const std::string name = e->name;
        entry_names.insert(name.substr(name.find_last_of("\\/:") == std::string::npos ? 0 : name.find_last_of("\\/:") + 1));
    }
    archive::DoneHidFileList(list);
    st->session.status = 0;
    ops::ExtractFileMaskListHid(*st, FileMaskList {});
    CheckScratch(entry_names);
    return 0;
}
