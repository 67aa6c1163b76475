// platform_win32_test.cpp -- the platform layer on Windows: stored names through the
// system's code pages, the system's own attribute word, native handles beside runtime
// files, 64-bit offsets, links, and the library's own module.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace hedgerow::platform {
namespace {

using hedgerow::testing::ReadFile;
using hedgerow::testing::TempDir;
using hedgerow::testing::WriteFile;

bool WesternCodePages() { return ::GetACP() == 1252 && ::GetOEMCP() == 437; }

TEST(PlatformWin32Test, StoredNamesGoThroughTheOemCodePage) {
    if (!WesternCodePages()) GTEST_SKIP() << "expects ANSI 1252 and OEM 437";
    EXPECT_FALSE(AnsiIsUtf8());
    struct Case {
        const char* ansi;
        const char* oem;
    };
    const Case to_oem[] = {
        {"D\xe4t\xe9n\\\x80.txt", "D\x84t\x82n\\_.txt"},  // the euro sign has no place in 437
        {"\x8a" "a?", "_a?"},                             // S caron: no look-alike either
        {"", ""},
    };
    for (const Case& c : to_oem) {
        SCOPED_TRACE(c.ansi);
        char out[32];
        EXPECT_TRUE(AnsiToOem(c.ansi, out, sizeof out));
        EXPECT_STREQ(out, c.oem);
    }
    char out[8];
    EXPECT_TRUE(OemToAnsi("\x84\x82\xb0", out, sizeof out));  // a box-drawing character
    EXPECT_STREQ(out, "\xe4\xe9_");
    // Every OEM character that the ANSI page holds comes back unchanged.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char oem[2] = {static_cast<char>(byte), '\0'};
        char ansi[4];
        char back[4];
        ASSERT_TRUE(OemToAnsi(oem, ansi, sizeof ansi));
        if (ansi[0] == '_') continue;
        ASSERT_TRUE(AnsiToOem(ansi, back, sizeof back));
        EXPECT_EQ(static_cast<unsigned char>(back[0]), byte) << std::hex << byte;
    }
    char small[4];
    EXPECT_FALSE(AnsiToOem("abcdef", small, sizeof small));
    EXPECT_STREQ(small, "abc");
}

TEST(PlatformWin32Test, AttributesAreTheSystemsWord) {
    TempDir dir;
    const std::string path = dir / "f.txt";
    WriteFile(path, "x");
    const uint32_t word = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
    ASSERT_EQ(SetAttributes(path.c_str(), word), 0u);
    EXPECT_EQ(::GetFileAttributesA(path.c_str()), word);
    uint32_t attributes = 0;
    ASSERT_EQ(GetAttributes(path.c_str(), &attributes), 0u);
    EXPECT_EQ(attributes, word);
    ASSERT_EQ(SetAttributes(path.c_str(), kAttrArchive), 0u);
    EXPECT_EQ(::GetFileAttributesA(path.c_str()), kAttrArchive);

    uint32_t untouched = 42;
    EXPECT_EQ(GetAttributes((dir / "missing").c_str(), &untouched), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(untouched, 42u);
    EXPECT_NE(SetAttributes((dir / "missing").c_str(), kAttrArchive), 0u);
    ASSERT_EQ(GetAttributes((dir.path() + "\\").c_str(), &attributes), 0u);
    EXPECT_EQ(attributes & kAttrDirectory, kAttrDirectory);
    HedgerowFindData record {};
    ASSERT_TRUE(FindOne((dir.path() + "/").c_str(), &record));  // a trailing separator is dropped
    EXPECT_EQ(record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(PlatformWin32Test, TimesAreSetWhileTheRuntimeHoldsTheFile) {
    TempDir dir;
    const std::string path = dir / "t.bin";
    WriteFile(path, "12345");
    File open = OpenFile(path.c_str(), "r+b");  // as an operation holds the file it writes
    ASSERT_TRUE(open);
    NativeFile writer = OpenNativeForWriting(path.c_str());
    ASSERT_TRUE(writer.IsOpen());
    const uint64_t when = 126497340000000000ULL;  // 2001-11-12 UTC
    ASSERT_TRUE(SetLastWriteTime(writer, when));
    EXPECT_TRUE(CloseNative(writer));
    EXPECT_FALSE(writer.IsOpen());
    NativeFile reader = OpenNativeForReading(path.c_str());
    uint64_t back = 0;
    ASSERT_TRUE(GetLastWriteTime(reader, &back));
    EXPECT_EQ(back, when);
    EXPECT_TRUE(CloseNative(reader));
    EXPECT_FALSE(OpenNativeForReading((dir / "missing").c_str()).IsOpen());
}

TEST(PlatformWin32Test, OffsetsPastFourGibibytesAndTruncation) {
    TempDir dir;
    const std::string path = dir / "big.bin";
    File f = OpenFile(path.c_str(), "w+b");
    ASSERT_TRUE(f);
    ASSERT_EQ(WriteBytes(f.get(), "0123456789", 10), 10u);
    const uint64_t distant = (uint64_t {5} << 30) + 7;  // seeking alone writes nothing
    ASSERT_TRUE(SeekTo(f.get(), distant));
    EXPECT_EQ(Tell(f.get()), static_cast<int64_t>(distant));
    ASSERT_TRUE(SeekTo(f.get(), 10));
    ASSERT_TRUE(TruncateAt(f.get(), 4));
    EXPECT_EQ(Tell(f.get()), 10);  // the position stays
    EXPECT_EQ(Length(f.get()), 4);
    EXPECT_TRUE(SyncToDisk(f.get()));
    EXPECT_TRUE(Close(f));
    EXPECT_EQ(ReadFile(path), (std::vector<uint8_t> {'0', '1', '2', '3'}));
}

TEST(PlatformWin32Test, ExclusiveCreationAndReplacingRename) {
    TempDir dir;
    const std::string taken = dir / "taken";
    WriteFile(taken, "old");
    ASSERT_TRUE(MakeDirectory((dir / "sub").c_str()));
    EXPECT_FALSE(CreateExclusive(taken.c_str()));
    EXPECT_FALSE(CreateExclusive((dir / "sub").c_str()));
    File made = CreateExclusive((dir / "new").c_str());
    ASSERT_TRUE(made);
    ASSERT_EQ(WriteBytes(made.get(), "new", 3), 3u);
    ASSERT_TRUE(Close(made));
    ASSERT_TRUE(RenamePath((dir / "new").c_str(), taken.c_str()));
    EXPECT_EQ(ReadFile(taken), (std::vector<uint8_t> {'n', 'e', 'w'}));
    EXPECT_FALSE(PathExists((dir / "new").c_str()));
}

TEST(PlatformWin32Test, LinksAreRecognised) {
    TempDir dir;
    WriteFile(dir / "target/f.txt", "x");
    const std::string link = dir / "link";
    // Wine reports success but makes no link.
    if (!::CreateSymbolicLinkA(link.c_str(), (dir / "target").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !PathExists(link.c_str())) {
        GTEST_SKIP() << "no symbolic links here";
    }
    EXPECT_TRUE(IsSymbolicLink(link.c_str()));
    EXPECT_TRUE(IsSymbolicLink((link + "\\").c_str()));
    EXPECT_FALSE(IsSymbolicLink((dir / "target").c_str()));
    EXPECT_FALSE(IsSymbolicLink((dir / "target/f.txt").c_str()));
    EXPECT_FALSE(IsSymbolicLink((dir / "missing").c_str()));
    ::RemoveDirectoryA(link.c_str());
}

TEST(PlatformWin32Test, ModulesAndTheTemporaryDirectory) {
    char path[MAX_PATH];
    const size_t length = OwnModulePath(path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(path), length);
    EXPECT_TRUE(std::string(path).ends_with("hedgerow_tests.exe")) << path;  // linked in statically
    EXPECT_EQ(OwnModulePath(path, 4), 0u);

    const size_t temp = TempDirectory(path, sizeof path);
    ASSERT_GT(temp, 0u);
    EXPECT_EQ(path[temp - 1], '\\');
    EXPECT_TRUE(IsDirectory(path));

    void* kernel = LoadModule("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(FindSymbol(kernel, "GetTickCount"), nullptr);
    EXPECT_EQ(FindSymbol(kernel, "NoSuchFunction"), nullptr);
    FreeModule(kernel);
    EXPECT_EQ(LoadModule("no-such-module.zzl"), nullptr);
}

}  // namespace
}  // namespace hedgerow::platform
