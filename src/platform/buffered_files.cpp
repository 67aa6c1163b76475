// buffered_files.cpp -- the part of the platform layer's buffered files that is the same
// on every system: the runtime's reads and writes, each through a fault point, and closing.
#include <cstdio>

#include "platform/platform.h"

namespace hedgerow::platform {

void FileCloser::operator()(std::FILE* f) const {
    if (f) std::fclose(f);
}

size_t ReadBytes(std::FILE* f, void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    if (FaultPoint(FaultKind::kRead)) {
        std::clearerr(f);  // not the end of the file: a failed read
        return 0;
    }
    return std::fread(buffer, 1, count, f);
}

size_t WriteBytes(std::FILE* f, const void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    if (FaultPoint(FaultKind::kWrite)) return 0;
    return std::fwrite(buffer, 1, count, f);
}

bool Close(File& f) {
    if (!f) return true;
    std::FILE* raw = f.release();
    return std::fclose(raw) == 0;
}

}  // namespace hedgerow::platform
