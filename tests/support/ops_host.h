// ops_host.h -- a small host for the archive-operation tests: its own library state, a
// scratch directory, and short ways to create, update, list, extract and delete.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/open_list.h"
#include "api/control.h"
#include "api/library_state.h"
#include "names/masks.h"
#include "ops/compress.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "ops/extract.h"
#include "ops/lock.h"
#include "ops/strong_archive.h"
#include "support/temp_dir.h"
#include "support/test_call.h"

namespace hedgerow::testing {

inline HidFileSettings MakeSettings(int32_t cipher_id, const std::string& data_password,
                                    const std::string& header_password = "", bool lock = false) {
    HidFileSettings s {};
    s.cipher_id = cipher_id;
    s.lock_headers = lock ? 1 : 0;
    std::strncpy(s.data_password, data_password.c_str(), sizeof s.data_password - 1);
    std::strncpy(s.header_password, header_password.c_str(), sizeof s.header_password - 1);
    return s;
}

// Text that compresses well, and bytes that do not compress at all.
inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed = 1) {
    static const char* words[] = {"hedge ", "row ", "bramble ", "thorn ", "leaf ", "\n", "sparrow ", "ditch "};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < n) text += words[rng() % 8];
    text.resize(n);
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

struct MaskListOwner {
    FileMaskList list {};
    MaskListOwner(Session& session, const std::vector<std::string>& masks) {
        for (const auto& m : masks) EXPECT_TRUE(names::AddFileMask(session, m.c_str(), list)) << m;
    }
    ~MaskListOwner() { names::DoneFileMaskList(list); }
};

struct Host {
    LibraryState st;
    std::unique_ptr<ops::Context> last_call;  // the context of the last operation run
    TempDir dir;
    std::string archive;  // path of the archive

    Host() : archive(dir / "test.arc") {}

    std::string In(const std::string& name) const { return dir / ("in/" + name); }
    std::string Out(const std::string& name) const { return dir / ("out/" + name); }
    void AddFile(const std::string& name, const std::vector<uint8_t>& bytes) { WriteFile(In(name), bytes); }

    // Prepares and writes a new archive of the named files (relative to the input folder).
    uint16_t Create(const std::vector<std::string>& masks, const HidFileSettings& settings) {
        archive::CreateHidFile(st.session, st.archive, archive.c_str(), &settings);
        if (st.session.status != 0) return st.session.status;
        SetInputPath(st.session, (dir / "in").c_str());
        return Compress(masks);
    }

    uint16_t Open(const HidFileSettings& settings) {
        archive::InitHidFile(st.session, st.archive, archive.c_str(), &settings);
        return st.session.status;
    }

    uint16_t Compress(const std::vector<std::string>& masks) {
        MaskListOwner m(st.session, masks);
        ops::CompressFileMaskListHid(*(last_call = OpCall(st)), m.list);
        return st.session.status;
    }

    uint16_t Extract(const std::vector<std::string>& masks = {}, const std::string& out = "out") {
        SetOutputPath(st.session, (dir / out).c_str());
        MaskListOwner m(st.session, masks);
        ops::ExtractFileMaskListHid(*(last_call = OpCall(st)), m.list);
        return st.session.status;
    }

    uint16_t Delete(const std::vector<std::string>& masks) {
        MaskListOwner m(st.session, masks);
        ops::DeleteFileMaskListHid(*(last_call = OpCall(st)), m.list);
        return st.session.status;
    }

    // Lists the archive as the export does (a strong archive in a call's context).
    void List(HidFileList& list, const FileMaskList& masks = FileMaskList {}) {
        if (st.archive.strong) {
            ops::ListStrongArchive(*(last_call = OpCall(st)), list, masks);
        } else {
            archive::BuildHidFileList(st.session, st.archive, list, masks);
        }
    }

    std::vector<std::string> Names() {
        HidFileList list {};
        List(list);
        std::vector<std::string> names;
        for (const HidFileEntry* e = list.first; e; e = e->next) names.emplace_back(e->name);
        archive::DoneHidFileList(list);
        return names;
    }

    std::vector<uint8_t> ArchiveBytes() const { return ReadFile(archive); }

    // Files in the archive's folder other than the archive itself and the in/out folders:
    // a temporary file left behind shows up here.
    std::vector<std::string> Strays() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            const std::string n = e.path().filename().string();
            if (n != "test.arc" && n != "in" && n != "out" && n != "out2") names.push_back(n);
        }
        return names;
    }
};

}  // namespace hedgerow::testing
