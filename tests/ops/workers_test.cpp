// workers_test.cpp -- operations with several workers: the archive does not depend on
// their number, the host is called only from the calling thread and in the order of one
// worker, and a cancel or a failure leaves the archive as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/ops_host.h"

namespace hedgerow::testing {
namespace {

HidFileSettings WithWorkers(HidFileSettings s, int32_t workers, int32_t level = HEDGEROW_LEVEL_DEFAULT) {
    HidFileExtension x {};
    x.tag = HEDGEROW_EXTENSION_TAG;
    x.tag_check = ~uint32_t{HEDGEROW_EXTENSION_TAG};
    x.size = sizeof x;
    x.level = level;
    x.workers = workers;
    std::memcpy(s.reserved1, &x, sizeof x);
    return s;
}

// Files of every kind the writer meets: empty, tiny, compressible, incompressible (stored),
// and one larger than the window of level 5.
std::vector<std::string> AddMixedFiles(Host& h) {
    std::vector<std::string> names;
    for (int i = 0; i < 14; ++i) {
        const std::string name = "f" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt");
        const size_t size = i == 0 ? 0 : i == 1 ? 1 : static_cast<size_t>(i) * 7919;
        h.AddFile(name, i % 3 == 0 ? RandomBytes(size, static_cast<uint32_t>(i)) : TextBytes(size, static_cast<uint32_t>(i)));
        names.push_back(name);
    }
    h.AddFile("large.txt", TextBytes(700000, 99));
    names.push_back("large.txt");
    // Records carry the files' stamps: the same ones for every host.
    static const auto stamp = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    for (const auto& name : names) std::filesystem::last_write_time(h.In(name), stamp);
    return names;
}

// Everything the host was told, in order, and whether every call came from the thread
// that called the library.
struct CallLog {
    std::vector<std::string> events;
    std::thread::id caller;
    bool other_thread = false;
    int progress_calls = 0;
};
CallLog* g_log = nullptr;

void Note(const std::string& event) {
    if (std::this_thread::get_id() != g_log->caller) g_log->other_thread = true;
    g_log->events.push_back(event);
}
int32_t HEDGEROW_CALL LogFileName(uint32_t, const char* source, const char* target) {
    Note(std::string("name ") + source + " " + target);
    return 1;
}
int32_t HEDGEROW_CALL LogProgress(uint32_t, int32_t, int32_t) {
    if (std::this_thread::get_id() != g_log->caller) g_log->other_thread = true;
    ++g_log->progress_calls;
    return 1;
}
int32_t HEDGEROW_CALL SkipMissing(uint32_t, const char* path) {
    Note(std::string("skip ") + std::filesystem::path(path).filename().string());
    return 1;
}

TEST(WorkersTest, ArchiveBytesDoNotDependOnTheWorkerCount) {
    // Cipher none and DES (no chaining values) give the same file byte for byte; IDEA's
    // chain blocks are random, so there the sizes, records and contents agree.
    struct Row {
        int32_t cipher;
        int32_t level;
    };
    const Row rows[] = {{-1, HEDGEROW_LEVEL_STORE}, {-1, 1}, {-1, HEDGEROW_LEVEL_DEFAULT}, {-1, 9},
                        {0, HEDGEROW_LEVEL_DEFAULT}, {2, 3}, {2, HEDGEROW_LEVEL_DEFAULT}};
    for (const auto& [cipher, level] : rows) {
        {
            SCOPED_TRACE("cipher " + std::to_string(cipher) + ", level " + std::to_string(level));
            std::vector<std::vector<uint8_t>> archives;
            std::vector<std::vector<std::string>> listings;
            for (const int32_t workers : {1, 2, 8}) {
                Host h;
                const auto names = AddMixedFiles(h);
                ASSERT_EQ(h.Create(names, WithWorkers(MakeSettings(cipher, "pw"), workers, level)), arOk);
                archives.push_back(h.ArchiveBytes());
                listings.push_back(h.Names());
                ASSERT_EQ(h.Open(WithWorkers(MakeSettings(cipher, "pw"), workers)), arOk);
                ASSERT_EQ(h.Extract(), arOk);
                for (const auto& name : names) EXPECT_EQ(ReadFile(h.Out(name)), ReadFile(h.In(name))) << name;
            }
            for (size_t i = 1; i < archives.size(); ++i) {
                EXPECT_EQ(listings[i], listings[0]);
                EXPECT_EQ(archives[i].size(), archives[0].size());
                if (cipher != 2) {
                    EXPECT_TRUE(archives[i] == archives[0]) << "workers run " << i;
                }
            }
        }
    }
}

TEST(WorkersTest, TheHostHearsFromTheCallingThreadInTheOrderOfOneWorker) {
    std::vector<std::vector<std::string>> logs;
    for (const int32_t workers : {1, 4}) {
        CallLog log;
        log.caller = std::this_thread::get_id();
        g_log = &log;
        Host h;
        auto names = AddMixedFiles(h);
        names.insert(names.begin() + 5, "missing.txt");  // asks SkipFileProc in its place
        const HidFileSettings settings = WithWorkers(MakeSettings(-1, "pw"), workers);
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &settings);
        h.st.session.callbacks.file_name = {0, LogFileName};
        h.st.session.callbacks.progress = {0, LogProgress};
        h.st.session.callbacks.skip_file = {0, SkipMissing};
        SetInputPath(h.st.session, (h.dir / "in").c_str());
        ASSERT_EQ(h.Compress(names), arOk);
        ASSERT_EQ(h.Open(WithWorkers(MakeSettings(-1, "pw"), workers)), arOk);
        h.st.session.callbacks.file_name = {0, LogFileName};
        h.st.session.callbacks.progress = {0, LogProgress};
        ASSERT_EQ(h.Extract(), arOk);
        EXPECT_FALSE(log.other_thread);
        EXPECT_GE(log.progress_calls, 14);  // every file that has data reports
        // The paths differ from run to run: keep the file names.
        for (auto& e : log.events) {
            const size_t slash = e.find_last_of("/\\");
            e = e.substr(0, e.find(' ')) + " " + e.substr(slash + 1);
        }
        logs.push_back(log.events);
        g_log = nullptr;
    }
    EXPECT_EQ(logs[1], logs[0]);
}

int32_t HEDGEROW_CALL CancelSoon(uint32_t, int32_t, int32_t) { return ++g_log->progress_calls < 6 ? 1 : 0; }

TEST(WorkersTest, CancelLeavesTheArchiveAsItWas) {
    CallLog log;
    log.caller = std::this_thread::get_id();
    g_log = &log;
    Host h;
    const auto names = AddMixedFiles(h);
    ASSERT_EQ(h.Create({"f2.txt"}, WithWorkers(MakeSettings(2, "pw"), 4)), arOk);
    const auto before = h.ArchiveBytes();
    ASSERT_EQ(h.Open(WithWorkers(MakeSettings(2, "pw"), 4)), arOk);
    h.st.session.callbacks.progress = {0, CancelSoon};
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    EXPECT_EQ(h.Compress(names), arCancelled);
    EXPECT_TRUE(h.ArchiveBytes() == before);
    EXPECT_TRUE(h.Strays().empty());

    // Extraction stops too, with no partial file.
    ASSERT_EQ(h.Create(names, WithWorkers(MakeSettings(2, "pw"), 4)), arIoError);  // the archive exists
    Host full;
    AddMixedFiles(full);
    ASSERT_EQ(full.Create(names, WithWorkers(MakeSettings(2, "pw"), 4)), arOk);
    ASSERT_EQ(full.Open(WithWorkers(MakeSettings(2, "pw"), 4)), arOk);
    log.progress_calls = 0;
    full.st.session.callbacks.progress = {0, CancelSoon};
    EXPECT_EQ(full.Extract(), arCancelled);
    size_t extracted = 0;
    for (const auto& name : names) {
        if (!std::filesystem::exists(full.Out(name))) continue;
        ++extracted;
        EXPECT_EQ(ReadFile(full.Out(name)), ReadFile(full.In(name))) << name;
    }
    EXPECT_LT(extracted, names.size());
    g_log = nullptr;
}

TEST(WorkersTest, ExtensionBlockValuesAreCheckedAndGarbageIsIgnored) {
    Host h;
    h.AddFile("a.txt", TextBytes(5000));
    struct Row {
        int32_t level;
        int32_t workers;
        uint16_t status;
    };
    const Row rows[] = {{-2, 1, arBadSettings}, {10, 1, arBadSettings}, {5, -1, arBadSettings},
                        {5, HEDGEROW_MAX_WORKERS + 1, arBadSettings}, {9, HEDGEROW_MAX_WORKERS, arOk}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.level) + " " + std::to_string(r.workers));
        std::filesystem::remove(h.archive);
        const HidFileSettings settings = WithWorkers(MakeSettings(-1, "pw"), r.workers, r.level);
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &settings);
        EXPECT_EQ(h.st.session.status, r.status);
        const uint16_t opened = h.Open(WithWorkers(MakeSettings(-1, "pw"), r.workers, r.level));
        if (r.status != arOk) {
            EXPECT_EQ(opened, r.status);
        } else {
            EXPECT_NE(opened, arBadSettings);
        }
    }
    // Bytes without the tag, or with a tag whose check does not hold, are not a block.
    HidFileSettings garbage = MakeSettings(-1, "pw");
    std::memset(garbage.reserved1, 0xA5, sizeof garbage.reserved1);
    std::filesystem::remove(h.archive);
    EXPECT_EQ(h.Create({"a.txt"}, garbage), arOk);
    EXPECT_EQ(h.st.archive.level, 5);
    HidFileSettings half = WithWorkers(MakeSettings(-1, "pw"), 999, 99);
    half.reserved1[4] ^= 1;  // tag_check no longer the complement
    EXPECT_EQ(h.Open(half), arOk);
    EXPECT_EQ(h.st.archive.workers, 0);
}

}  // namespace
}  // namespace hedgerow::testing
