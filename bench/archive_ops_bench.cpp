// archive_ops_bench.cpp -- how the archive operations scale with the number of entries:
// create, list, update every name and delete half of an archive of N small files, for
// N and 10 N; and listing archives of 10,000 and 100,000 entries. Prints seconds per step
// and the ratio of the larger run to the smaller (linear growth gives about 10).
//
//   cmake --preset bench && cmake --build build/bench --target archive_ops_bench
//   build/bench/bench/archive_ops_bench [N]        (N defaults to 2000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/open_list.h"
#include "archive/records.h"
#include "api/control.h"
#include "api/library_state.h"
#include "names/masks.h"
#include "ops/compress.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "platform/platform.h"
#include "support/test_call.h"

namespace fs = std::filesystem;
using namespace hedgerow;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

fs::path Scratch() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    return base / "hedgerow-archive-bench";
}

struct Masks {
    FileMaskList list {};
    Session session;
    explicit Masks(const std::vector<std::string>& names) {
        for (const auto& n : names) if (!names::AddFileMask(session, n.c_str(), list)) std::abort();
    }
    ~Masks() { names::DoneFileMaskList(list); }
};

HidFileSettings Settings() {
    HidFileSettings s {};
    s.cipher_id = 2;
    std::strcpy(s.data_password, "bench password");
    return s;
}

struct Steps {
    double create = 0, list = 0, update = 0, remove = 0;
};

Steps RunOperations(int n) {
    std::string leaf = "ops-";
    leaf += std::to_string(n);
    const fs::path dir = Scratch() / leaf;
    fs::remove_all(dir);
    fs::create_directories(dir / "in");
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        // (built piece by piece: g++ 12 warns wrongly about "literal" + std::string at -O3)
        std::string folder = "d";
        folder += std::to_string(i % 50);
        std::string name = folder;
        name += "/file";
        name += std::to_string(i);
        name += ".txt";
        fs::create_directories(dir / "in" / folder);
        std::ofstream(dir / "in" / name) << "small file number " << i << " of a hedgerow benchmark\n";
        names.push_back(name);
    }
    const std::string archive = (dir / "bench.arc").string();
    const HidFileSettings settings = Settings();
    Steps steps;
    LibraryState st;
    Masks all(names);

    auto t = std::chrono::steady_clock::now();
    archive::CreateHidFile(st.session, st.archive, archive.c_str(), &settings);
    SetInputPath(st.session, (dir / "in").c_str());
    ops::CompressFileMaskListHid(*hedgerow::testing::OpCall(st), all.list);
    steps.create = Seconds(t);
    if (st.session.status != 0) std::fprintf(stderr, "create: status %u\n", st.session.status);

    archive::InitHidFile(st.session, st.archive, archive.c_str(), &settings);
    t = std::chrono::steady_clock::now();
    HidFileList list {};
    archive::BuildHidFileList(st.session, st.archive, list, FileMaskList {});
    steps.list = Seconds(t);
    if (list.count != static_cast<uint32_t>(n)) std::fprintf(stderr, "list: %u entries\n", list.count);
    archive::DoneHidFileList(list);

    SetInputPath(st.session, (dir / "in").c_str());
    t = std::chrono::steady_clock::now();
    ops::CompressFileMaskListHid(*hedgerow::testing::OpCall(st), all.list);  // every name replaces its entry
    steps.update = Seconds(t);
    if (st.session.status != 0) std::fprintf(stderr, "update: status %u\n", st.session.status);

    Masks half(std::vector<std::string>(names.begin(), names.begin() + n / 2));
    t = std::chrono::steady_clock::now();
    ops::DeleteFileMaskListHid(*hedgerow::testing::OpCall(st), half.list);
    steps.remove = Seconds(t);
    if (st.session.status != 0) std::fprintf(stderr, "delete: status %u\n", st.session.status);
    fs::remove_all(dir);
    return steps;
}

// Lists an archive of n empty entries written record by record.
double ListEntries(int n) {
    std::string leaf = "list-";
    leaf += std::to_string(n);
    const fs::path dir = Scratch() / leaf;
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string archive = (dir / "list.arc").string();
    LibraryState st;
    st.archive.cipher_id = -1;
    {
        platform::File out = platform::OpenFile(archive.c_str(), "wb");
        uint8_t marker[archive::kMarkerSize];
        archive::MakeMarkerRecord(false, marker);
        platform::WriteBytes(out.get(), marker, sizeof marker);
        for (int i = 0; i < n; ++i) {
            uint8_t record[archive::kRecordSize] = {};
            std::string name = "dir";
            name += std::to_string(i % 100);
            name += "\\entry";
            name += std::to_string(i);
            if (!archive::WriteEntryRecord(st.session, st.archive, out.get(), record, name.c_str())) std::abort();
        }
    }
    const HidFileSettings settings = Settings();
    archive::InitHidFile(st.session, st.archive, archive.c_str(), &settings);
    const auto t = std::chrono::steady_clock::now();
    HidFileList list {};
    archive::BuildHidFileList(st.session, st.archive, list, FileMaskList {});
    const double seconds = Seconds(t);
    if (list.count != static_cast<uint32_t>(n)) std::fprintf(stderr, "list: %u entries\n", list.count);
    archive::DoneHidFileList(list);
    fs::remove_all(dir);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    const Steps small = RunOperations(n);
    const Steps large = RunOperations(10 * n);
    std::printf("%-22s %11d files %11d files %8s\n", "step", n, 10 * n, "ratio");
    const auto row = [](const char* name, double a, double b) { std::printf("%-22s %11.3fs %11.3fs %8.1f\n", name, a, b, b / a); };
    row("create", small.create, large.create);
    row("list", small.list, large.list);
    row("update every name", small.update, large.update);
    row("delete half", small.remove, large.remove);
    const double list_small = ListEntries(10000);
    const double list_large = ListEntries(100000);
    row("list (entries only)", list_small, list_large);
    std::printf("(list rows: 10,000 and 100,000 entries)\n");
    fs::remove_all(Scratch());
    return 0;
}
