// control.cpp -- options word and path setters.
#include "api/control.h"

#include <cstring>

#include "names/paths.h"

namespace hedgerow {

namespace {

// Copies text plus an optional backslash into buffer; false (buffer emptied) when the
// result would not fit with its terminator.
bool CopyPath(char* buffer, size_t capacity, const char* text, bool add_backslash) {
    size_t length = std::strlen(text);
    const size_t needed = length + (add_backslash ? 1 : 0) + 1;
    if (needed > capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, text, length);
    if (add_backslash) buffer[length++] = '\\';
    buffer[length] = '\0';
    return true;
}

}  // namespace

uint16_t OptionsOn(Session& session, uint16_t bits) {
    session.options = static_cast<uint16_t>(session.options | (bits & ~kLockedOptionBits));
    return session.options;
}

uint16_t OptionsOff(Session& session, uint16_t bits) {
    session.options = static_cast<uint16_t>(session.options & (~bits | kLockedOptionBits));
    return session.options;
}

bool OptionsAreOn(const Session& session, uint16_t bits) { return (session.options & bits) == bits; }

void SetOutputPath(Session& session, const char* path) {
    const char* text = path ? path : "";
    const size_t length = std::strlen(text);
    const bool add = length > 0 && !names::IsSeparator(text[length - 1]) && text[length - 1] != ':';
    session.output_path_refused = !CopyPath(session.output_path, sizeof session.output_path, text, add);
    if (session.output_path_refused) Fail(session, Status::kNameTooLong);
}

void SetInputPath(Session& session, const char* path) {
    const char* text = path ? path : "";
    // Longer paths always get a backslash (the host passes directories without one); a
    // short one gets it unless it is a drive or a root, so that "in" does not become
    // "ina.txt" when a name is joined to it.
    const size_t length = std::strlen(text);
    const char last = length > 0 ? text[length - 1] : '\\';
    const bool add = length > 3 || (!names::IsSeparator(last) && last != ':');
    session.input_path_refused = !CopyPath(session.input_path, sizeof session.input_path, text, add);
    if (session.input_path_refused) Fail(session, Status::kNameTooLong);
}

void SetRelativePath(Session& session, const char* path) {
    const char* text = path ? path : "";
    session.relative_path_refused = !CopyPath(session.relative_path, sizeof session.relative_path, text, false);
    if (session.relative_path_refused) Fail(session, Status::kNameTooLong);
}

}  // namespace hedgerow
