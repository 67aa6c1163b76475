// data_key_test.cpp -- the data key of an entry being read: from the data password, or
// from the host's answer, which then serves the entries that follow.
#include "ops/data_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_call.h"

namespace hedgerow::ops {
namespace {

struct KeyHost {
    int32_t answer = 1;
    const char* password = "";
    int calls = 0;
    std::string asked_for;
};
KeyHost g_key_host;

int32_t HEDGEROW_CALL OnCryptKey(uint32_t, char* password, const char* entry_name) {
    ++g_key_host.calls;
    g_key_host.asked_for = entry_name;
    std::strcpy(password, g_key_host.password);
    return g_key_host.answer;
}

TEST(DataKeyTest, DataKeyFromPasswordOrHost) {
    struct Case {
        const char* name;
        const char* password;       // data password before the call
        bool with_proc;
        int32_t answer;
        bool ok;
        Status status;
        const char* password_after;
    };
    const Case cases[] = {
        {"password set", "set", true, 1, true, Status::kOk, "set"},
        {"no password, no host", "", false, 1, false, Status::kBadPassword, ""},
        {"host answers", "", true, 1, true, Status::kOk, "from host"},
        {"host gives up", "", true, 0, false, Status::kBadPassword, ""},
        {"host answers otherwise", "", true, 7, false, Status::kOk, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TestCall st;
        std::strcpy(st.archive.data_password, c.password);
        g_key_host = KeyHost{};
        g_key_host.answer = c.answer;
        g_key_host.password = "from host";
        if (c.with_proc) st.session.callbacks.crypt_key.proc = OnCryptKey;
        EXPECT_EQ(BeginDeciphering(st.call, 2, "dir\\entry.txt"), c.ok);
        EXPECT_EQ(st.session.status, static_cast<uint16_t>(c.status));
        EXPECT_STREQ(st.archive.data_password, c.password_after);
        if (g_key_host.calls > 0) {
            EXPECT_EQ(g_key_host.asked_for, "dir\\entry.txt");
        }
        if (c.ok) {
            EXPECT_EQ(st.stream.cipher_id, 2);
        }
        if (c.ok && c.with_proc && c.password[0] == '\0') {
            // The answer serves the following entries without another question.
            EXPECT_TRUE(BeginDeciphering(st.call, 2, "next"));
            EXPECT_EQ(g_key_host.calls, 1);
        }
    }
}

}  // namespace
}  // namespace hedgerow::ops
