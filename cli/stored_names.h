// stored_names.h -- the names files get inside an archive. The command checks each file
// before handing it to the library, so that a file the archive cannot hold under its
// own name is reported instead of being left out silently or stored under another name.
#pragma once

#include <string>
#include <string_view>

namespace hedgerow::cli {

// Why a file named by this path (relative, '/' between parts) cannot be stored under its
// own name; empty when it can.
std::string UnstorableReason(std::string_view path);

// A stored-name prefix as given by the user ("backup/2024", "\old\"), in the archive's
// form ("backup\2024"); empty with `error` set when it is unusable (".." parts).
std::string NormalisePrefix(std::string_view prefix, std::string& error);

// The name the library stores a file under, named by `mask` (as handed to the library,
// '/' or '\' between parts), with the stored-name prefix in front, or only the file name
// with names_only: the library's own stored-name rule (names/paths.h), not a copy of it.
std::string ExpectedStoredName(std::string_view prefix, std::string_view mask, bool names_only);

// A stored name with '/' between parts, as it is: for JSON, which escapes in its own way.
std::string SlashedName(std::string_view stored);

// A stored name as shown to the user: '/' between parts, control characters and invalid
// UTF-8 escaped (names::ShownText).
std::string DisplayName(std::string_view stored);

// Any other text from outside (a path, a file name) as it may be printed: the escaping of
// names::ShownText. Every name the command prints goes through this or DisplayName.
std::string Shown(std::string_view text);

}  // namespace hedgerow::cli
