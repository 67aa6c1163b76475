// paths.h -- the one home of the rules for paths and names that protect the user's disk
// and keep an archive's names consistent: separators, drive and server splitting, the
// standard path split, the stored-name rule, comparison keys and the parts below an
// output directory that a stored name may be written to. Every caller in the library and
// the command goes through these; none keeps a copy. The rules are plain text functions
// (no file system, no status word), so that the command can link them alone.
//
// Stored names use '\' between parts; callers may hand in either separator.
#pragma once

#include <string>
#include <string_view>

namespace hedgerow::names {

// Backslash and slash both separate path parts, everywhere.
constexpr bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The path with every slash turned into a backslash.
std::string WithBackslashes(std::string_view path);

// A UNC path "\\server\share\rest" split into its root "\\server\share\" and the rest.
// A path that stops after the server or the share has the path and a backslash as its
// root and an empty rest; any other path is all rest (unc false).
//   "\\srv\share\a\b.txt"  root "\\srv\share\"   rest "a\b.txt"
//   "\\srv"                root "\\srv\"          rest ""
//   "E:\a\b.txt"           root ""                rest "E:\a\b.txt"   (not UNC)
struct UncSplit {
    bool unc = false;
    std::string root;
    std::string rest;
};
UncSplit SplitUncPath(std::string_view path);
// How many leading bytes of path its UNC root takes: the length of SplitUncPath's root,
// or the whole path when it stops after the server or share; 0 when it is not UNC.
size_t UncRootLength(std::string_view path);

// The standard path split: drive ("X:"), directory (up to and with its last backslash),
// name, and extension (from the last dot of the final part, dot included).
//   "C:\dir\a.b.txt"  drive "C:"  directory "\dir\"  name "a.b"  extension ".txt"
//   "README."         name "README"  extension "."
struct PathParts {
    std::string drive;
    std::string directory;
    std::string name;
    std::string extension;
};
PathParts SplitPath(std::string_view path);

// The stored-name rule: what is left of a name once everything that would point outside
// wherever the entry is later extracted is dropped: a UNC server and share, a drive (and
// the separator after it), leading separators, and every leading "." and ".." part.
// Parts further in are kept as they are (".." inside a name is refused on extraction).
//   name                     stored
//   "sub/a.txt"              "sub\a.txt"
//   "E:\data\a.txt"          "data\a.txt"
//   "X:rel.txt"              "rel.txt"
//   "\\srv\share\d\f.txt"    "d\f.txt"
//   "\x.txt"                 "x.txt"
//   "..\..\.\x.txt"          "x.txt"
//   "dir\..hidden"           "dir\..hidden"   (a name that starts with dots, not a part)
std::string StoredNameBody(std::string_view name);
// The same rule as a view into name, before slashes become backslashes.
std::string_view StoredNameBodyView(std::string_view name);

// The whole stored name of a file named `name`: the stored-name rule, then the relative
// path and a backslash in front (unless it is empty); with names_only, only the final
// part, without a lone trailing dot.
//   relative "docs"    "sub\a.txt"          -> "docs\sub\a.txt"
//   names_only         "D:\in\sub\a.txt"    -> "a.txt"
//   names_only         "README."            -> "README"
std::string StoredNameOf(std::string_view relative_path, bool names_only, std::string_view name);

// The key by which names compare, as the archive compares them: the stored-name rule,
// then upper-cased (as UpperString does). Two names with the same key are the same entry.
std::string NameKey(std::string_view name);
// NameKey(a) == NameKey(b), without allocating (names of up to 1,023 bytes; longer ones
// compare unequal).
bool SameNameKey(std::string_view a, std::string_view b);

// Where a stored name may be written below an output directory: its parts, in order,
// joined by backslashes into out (capacity bytes, terminator included). With
// restore_paths: a leading backslash, then the relative path and a backslash in front
// (compared as keys; a name that does not begin with them keeps its parts), then leading
// separators and a drive are dropped, and "." and empty parts skipped; without, only what
// follows the last separator or colon. kRefused when a ".." part remains or nothing does:
// such a name is not written anywhere. kTooLong when the parts do not fit (a refusal
// comes first). Plain text work into the caller's buffer: no allocation.
//   stored               restore  relative   out
//   "a\b.txt"            yes      ""         "a\b.txt"
//   "\abs.txt"           yes      ""         "abs.txt"
//   "C:\win\x.txt"       yes      ""         "win\x.txt"
//   "\\srv\share\x.txt"  yes      ""         "srv\share\x.txt"
//   "docs\a.txt"         yes      "DOCS"     "a.txt"
//   "other\a.txt"        yes      "docs"     "other\a.txt"
//   "a\..\..\evil.txt"   yes      ""         refused
//   "a\b.txt"            no       ""         "b.txt"
//   ".."                 no       ""         refused
enum class OutputName { kWritten, kRefused, kTooLong };
OutputName OutputPathOf(std::string_view stored_name, std::string_view relative_path, bool restore_paths, char* out,
                        size_t capacity);

// Whether a symbolic link at link_path (its place below the output directory, parts
// separated by either separator) with the given target text leads to a place inside the
// output directory: the target is relative, and after any leading ".." parts (each one
// step up from the link's directory, never above the output directory) holds only plain
// names and "." parts. A ".." further in is refused as well: the part before it could be
// a link itself, and ".." would then step out from wherever that leads.
//   link_path        target              inside
//   "a.txt"          "b.txt"             yes
//   "d/l"            "../b.txt"          yes
//   "d/e/l"          "../../d/x"         yes
//   "l"              "../x"              no
//   "d/l"            "../../x"           no
//   "l"              "/etc/passwd"       no
//   "l"              "d/../x"            no
//   "l"              ""                  no
//   "l"              "C:\x"             no
bool LinkTargetStaysInside(std::string_view link_path, std::string_view target);

}  // namespace hedgerow::names
