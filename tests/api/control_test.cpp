// control_test.cpp -- options word, path setters and the status word through the exports.
#include <gtest/gtest.h>

#include <string>

#include "api/control.h"
#include "api/library_state.h"
#include "hedgerow.h"

namespace hedgerow {
namespace {

TEST(ControlTest, OptionsWordKeepsTheLockedBit) {
    Session s;
    EXPECT_EQ(OptionsOn(s, 0x8000), 0x0800);
    EXPECT_EQ(s.options, 0x0800);
    EXPECT_TRUE(OptionsAreOn(s, 0));
    EXPECT_FALSE(OptionsAreOn(s, 0x0801));
    EXPECT_EQ(OptionsOn(s, 0x0001), 0x0801);
    EXPECT_TRUE(OptionsAreOn(s, 0x0801));
    EXPECT_EQ(OptionsOff(s, 0xFFFF), 0x0000);
    s.options = 0x8000;  // even if it were on, the host could not clear it
    EXPECT_EQ(OptionsOff(s, 0xFFFF), 0x8000);
}

TEST(ControlTest, PathSettersAddTheirSeparator) {
    struct Case {
        const char* given;
        const char* output;  // after SetOutputPath
        const char* input;   // after SetInputPath
    };
    const Case cases[] = {
        {"", "", ""},
        {"D:", "D:", "D:"},
        {"D:\\", "D:\\", "D:\\"},
        {"D:\\out", "D:\\out\\", "D:\\out\\"},
        {"E:\\data\\", "E:\\data\\", "E:\\data\\\\"},
        {"abc", "abc\\", "abc\\"},
        {"in", "in\\", "in\\"},
        {"E:\\", "E:\\", "E:\\"},
        {"/tmp/out/", "/tmp/out/", "/tmp/out/\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        Session s;
        SetOutputPath(s, c.given);
        SetInputPath(s, c.given);
        SetRelativePath(s, c.given);
        EXPECT_STREQ(s.output_path, c.output);
        EXPECT_STREQ(s.input_path, c.input);
        EXPECT_STREQ(s.relative_path, c.given);
        EXPECT_EQ(s.status, 0);
    }
}

TEST(ControlTest, OverlongPathsAreRefusedVisibly) {
    struct Case {
        size_t length;
        bool output_fits;
        bool input_fits;
        bool relative_fits;
    };
    // Output: 255 bytes with the backslash; input: 260 with it; relative: 260.
    const Case cases[] = {{254, true, true, true},  {255, false, true, true}, {259, false, true, true},
                          {260, false, false, true}, {261, false, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string path(c.length, 'a');
        Session s;
        SetOutputPath(s, path.c_str());
        EXPECT_EQ(s.output_path_refused, !c.output_fits);
        Session t;
        SetInputPath(t, path.c_str());
        EXPECT_EQ(t.input_path_refused, !c.input_fits);
        Session u;
        SetRelativePath(u, path.c_str());
        EXPECT_EQ(u.relative_path_refused, !c.relative_fits);
        for (const Session* x : {&s, &t, &u}) {
            const bool refused = x->output_path_refused || x->input_path_refused || x->relative_path_refused;
            EXPECT_EQ(x->status, refused ? arNameTooLong : arOk);
        }
        if (!c.output_fits) {
            EXPECT_STREQ(s.output_path, "");
        }
    }
    // Setting a path that fits lifts the refusal.
    Session s;
    SetOutputPath(s, std::string(300, 'a').c_str());
    SetOutputPath(s, "out");
    EXPECT_FALSE(s.output_path_refused);
    EXPECT_STREQ(s.output_path, "out\\");
}

// Callbacks carry the library's calling convention, which a lambda cannot take on.
int32_t HEDGEROW_CALL GoOn(uint32_t, int32_t, int32_t) { return 1; }

TEST(ControlTest, ExportsReachTheLibraryState) {
    EXPECT_EQ(SetArchiveStatus(32768), 32768);
    EXPECT_EQ(GetArchiveStatus(), 32768);
    CreateArcFolder();
    DeleteFilesAndData();
    EXPECT_EQ(GetArchiveStatus(), 32768);  // the empty functions touch nothing
    SetArchiveStatus(0);

    const ProgressProc proc = GoOn;
    SetSetProgressProc(7, proc);
    EXPECT_EQ(State().session.callbacks.progress.user, 7u);
    EXPECT_EQ(State().session.callbacks.progress.proc, proc);
    SetSetProgressProc(0, nullptr);
    EXPECT_EQ(State().session.callbacks.progress.proc, nullptr);

    ::SetOutputPath("D:\\out");
    EXPECT_STREQ(State().session.output_path, "D:\\out\\");
    ::SetOutputPath("");
}

}  // namespace
}  // namespace hedgerow
