// exports_test.cpp -- what the exported calls promise beyond the operations themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "api/library_state.h"
#include "crypto/cipher.h"
#include "hedgerow.h"
#include "ops/context.h"
#include "support/ops_host.h"

namespace hedgerow {
namespace {

using namespace hedgerow::testing;

bool AllZero(const void* p, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

TEST(ExportsTest, NoKeyScheduleOutlivesAnExportedCall) {
    // Every exported call builds its context and lets it go before it returns; the key
    // schedules are wiped as the context goes, so nothing of a key stays in memory.
    LibraryState st;
    alignas(ops::Context) unsigned char storage[sizeof(ops::Context)];
    auto* call = new (storage) ops::Context(st.session, st.archive);
    const auto* cipher = reinterpret_cast<const unsigned char*>(&call->stream.cipher);
    const size_t offset = static_cast<size_t>(cipher - storage);
    crypto::SetEncipherKey(call->stream.cipher, "pw", crypto::kCipherIdea);
    crypto::SetDecipherKey(call->stream.cipher, "pw", crypto::kCipherTripleDes);
    ASSERT_FALSE(AllZero(storage + offset, sizeof(crypto::CipherState)));
    call->~Context();
    EXPECT_TRUE(AllZero(storage + offset, sizeof(crypto::CipherState)));

    // The exported operations work as before.
    TempDir dir;
    WriteFile(dir / "in/a.txt", TextBytes(5000));
    SetArchiveStatus(0);
    ::SetInputPath((dir / "in").c_str());
    const HidFileSettings s = MakeSettings(1, "pw", "hp", true);
    const std::string archive = dir / "k.arc";
    CreateHidFile(archive.c_str(), &s);
    FileMaskList masks {};
    AppendFileMask("a.txt", &masks);
    CompressFileMaskListHid(&masks);
    ASSERT_EQ(GetArchiveStatus(), arOk);
    InitHidFile(archive.c_str(), &s);
    HidFileList list {};
    BuildHidFileList(&list, &masks);
    EXPECT_EQ(list.count, 1u);
    DoneHidFileList(&list);
    DoneFileMaskList(&masks);
    DoneHidFile();
    ::SetInputPath("");
}

}  // namespace
}  // namespace hedgerow
