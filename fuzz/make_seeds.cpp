// make_seeds.cpp -- writes the seed corpora of the archive fuzz targets with the library's
// own writer: small archives of every cipher, plain and locked, each prefixed with the
// target's mode byte. Run from the repository root: make_seeds fuzz/corpus
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/library_state.h"
#include "archive/open_list.h"
#include "api/control.h"
#include "names/masks.h"
#include "ops/compress.h"
#include "ops/create.h"
#include "hide/strong_prepared.h"
#include "strong/format.h"
#include "support/test_call.h"

namespace fs = std::filesystem;
using namespace hedgerow;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An archive of a text file, a small binary, an empty file and a file in a folder (a
// strong one for cipher 3, with Argon2 parameters small enough for a fuzz input).
std::string MakeArchive(const fs::path& work, int32_t cipher, bool lock) {
    fs::remove_all(work);
    fs::create_directories(work / "in/DIR");
    std::string text;
    for (int i = 0; i < 40; ++i) text += "hedgerow " + std::to_string(i * i) + " bramble\n";
    Write(work / "in/A.TXT", text);
    Write(work / "in/B.BIN", std::string("\x01\x02\xff\x80\x00\x7f", 6));
    Write(work / "in/EMPTY", "");
    Write(work / "in/DIR/C.TXT", "one line\n");
    LibraryState st;
    HidFileSettings settings {};
    settings.cipher_id = cipher;
    settings.lock_headers = lock ? 1 : 0;
    std::strcpy(settings.data_password, cipher == 3 ? "fuzz" : "pw");
    std::strcpy(settings.header_password, "secret");
    const std::string archive = (work / "a.arc").string();
    archive::CreateHidFile(st.session, st.archive, archive.c_str(), &settings);
    st.archive.strong_argon2_memory_kib = 64;
    st.archive.strong_argon2_passes = 1;
    st.archive.strong_argon2_lanes = 1;
    SetInputPath(st.session, (work / "in").c_str());
    FileMaskList masks {};
    for (const char* m : {"A.TXT", "B.BIN", "EMPTY", "DIR\\C.TXT"}) (void)names::AddFileMask(st.session, m, masks);
    ops::CompressFileMaskListHid(*hedgerow::testing::OpCall(st), masks);
    names::DoneFileMaskList(masks);
    if (st.session.status != 0) std::fprintf(stderr, "make_seeds: status %u\n", st.session.status);
    return Read(archive);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path corpus = argc > 1 ? argv[1] : "fuzz/corpus";
    const fs::path work = fs::temp_directory_path() / "hedgerow-make-seeds";
    fs::create_directories(corpus / "archive_list_fuzz");
    fs::create_directories(corpus / "archive_extract_fuzz");
    for (int32_t cipher : {-1, 0, 1, 2}) {
        for (bool lock : {false, true}) {
            const std::string archive = MakeArchive(work, cipher, lock);
            const std::string tag = "cipher" + std::to_string(cipher + 1) + (lock ? "-locked" : "-plain");
            Write(corpus / "archive_list_fuzz" / tag, std::string(1, lock ? '\x03' : '\x04') + archive);
            Write(corpus / "archive_extract_fuzz" / tag, std::string(1, '\x03') + archive);
        }
    }
    // Strong archives: raw, for the right and a wrong password, listed and extracted; and
    // the sealed mode's pieces (record bodies and data that the target seals itself).
    fs::create_directories(corpus / "strong_archive_fuzz");
    {
        const std::string archive = MakeArchive(work, 3, false);
        Write(corpus / "strong_archive_fuzz" / "raw", std::string(1, '\x04') + archive);
        Write(corpus / "strong_archive_fuzz" / "raw-wrong", std::string(1, '\x05') + archive);
        std::string pieces;
        const auto piece = [&](const strong::Record& r, const std::string& data) {
            const std::vector<uint8_t> body = strong::EncodeRecordBody(r);
            pieces += static_cast<char>(body.size() & 0xFF);
            pieces += static_cast<char>(body.size() >> 8);
            pieces.append(body.begin(), body.end());
            pieces += static_cast<char>(data.size() & 0xFF);
            pieces += static_cast<char>(data.size() >> 8);
            pieces += data;
        };
        strong::Record r;
        r.name = "dir\\a.txt";
        r.unpacked_size = r.stream_size = 5;
        r.data_length = strong::SealedLength(5, strong::kChunkSize);
        piece(r, "hello");
        r.name = "empty";
        r.unpacked_size = r.stream_size = 0;
        r.data_length = strong::SealedLength(0, strong::kChunkSize);
        piece(r, "");
        Write(corpus / "strong_archive_fuzz" / "sealed", std::string(1, '\x06') + pieces);
        // Strong prepared files of hiding: a compressed one and a stored one.
        for (const auto& [tag, content] : {std::pair<const char*, std::string> {"prepared-text", std::string(3000, 'h')},
                                           {"prepared-stored", "\x01\x7f\x33"}}) {
            LibraryState st;
            st.archive.strong_argon2_memory_kib = 64;
            st.archive.strong_argon2_passes = 1;
            st.archive.strong_argon2_lanes = 1;
            Write(work / "hidden", content);
            char temp[archive::kTempNameCapacity] = {};
            if (!hide::PackStrongForHiding(*testing::HideCall(st), (work / "hidden").c_str(), "fuzz", temp)) return 1;
            Write(corpus / "strong_archive_fuzz" / tag, std::string(1, '\x03') + Read(temp));
            fs::remove(temp);
        }
    }

    fs::create_directories(corpus / "mask_match_fuzz");
    const char* pairs[][2] = {{"*.*", "DATA\\SUB\\B.DOC"}, {"DATA\\*.*", "data/a.txt"}, {"A?X.DOC", "ABX.DOC"},
                              {"*X.DOC", "ANY.DOC"},       {"X:\\DATA\\A.TXT", "x:/data/a.txt"}, {"README", "README.TXT"}};
    int n = 0;
    for (const auto& pair : pairs) {
        Write(corpus / "mask_match_fuzz" / ("pair" + std::to_string(n++)), std::string(pair[0]) + '\0' + pair[1]);
    }
    fs::remove_all(work);
    return 0;
}
