// compress.cpp -- CompressFileMaskListHid: the choice between creating, building a
// self-extractor and updating, for either kind of archive.
#include "ops/compress.h"

#include <cstring>

#include "names/masks.h"
#include "ops/create.h"
#include "ops/sfx.h"
#include "ops/strong_archive.h"
#include "ops/update.h"

namespace hedgerow::ops {

namespace {

struct MaskListGuard {
    FileMaskList list {};
    ~MaskListGuard() { names::DoneFileMaskList(list); }
};

}  // namespace

void CompressFileMaskListHid(Context& cx, FileMaskList& masks) {
    if (!StatusIsOk(cx.session)) return;
    if (cx.session.relative_path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    if (cx.archive.name[0] == '\0') {
        // Nothing was named (or the name was refused): there is nothing to write to.
        Fail(cx.session, Status::kNotFound);
        return;
    }
    if (cx.archive.new_archive && cx.archive.settings.make_self_extractor == 1) {
        // Self-extracting archives are of the legacy kind only.
        if (cx.archive.strong) {
            Fail(cx.session, Status::kUnsupported);
            return;
        }
        char name[sizeof cx.archive.name];
        std::memcpy(name, cx.archive.name, sizeof name);
        BuildSelfExtractor(cx, name, masks, cx.archive.settings.sfx_parameters);
        return;
    }
    if (cx.archive.new_archive) {
        MaskListGuard files;
        if (cx.archive.strong) {
            CreateStrongArchive(cx, masks, files.list);
        } else {
            CreateNewArchive(cx, masks, files.list);
        }
        return;
    }
    if (cx.archive.strong) {
        UpdateStrongArchive(cx, masks);
    } else {
        UpdateArchive(cx, masks);
    }
}

}  // namespace hedgerow::ops
