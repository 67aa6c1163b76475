// cmd_list.cpp -- `hedgerow l`: the entries of an archive as a table or as JSON.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "entry_text.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"

namespace hedgerow::cli {

namespace {

struct Totals {
    uint64_t files = 0;
    uint64_t size = 0;
    uint64_t packed = 0;
};

using Entries = std::vector<const HidFileEntry*>;

Totals Sum(const Entries& list) {
    Totals t;
    for (const HidFileEntry* e : list) {
        ++t.files;
        t.size += EntrySize(*e);
        t.packed += EntryPackedSize(*e);
    }
    return t;
}

// "Argon2id, 64 MiB, 3 passes, 1 lane"
std::string KeyDerivation(const HidFileInfo& info) {
    const uint32_t kib = info.kdf_memory_kib;
    const std::string memory = kib % 1024 == 0 ? std::to_string(kib / 1024) + " MiB" : std::to_string(kib) + " KiB";
    return "Argon2id, " + memory + ", " + std::to_string(info.kdf_passes) + (info.kdf_passes == 1 ? " pass, " : " passes, ") +
           std::to_string(info.kdf_lanes) + (info.kdf_lanes == 1 ? " lane" : " lanes");
}

void PrintTable(const OpenedArchive& opened, const Entries& list) {
    if (opened.strong) {
        Print(stdout, "Strong archive: ChaCha20-Poly1305, key from the password by %s\n",
              KeyDerivation(opened.info).c_str());
    }
    const Totals totals = Sum(list);
    const int size_width = std::max<int>(8, static_cast<int>(std::to_string(totals.size).size()));
    const int packed_width = std::max<int>(8, static_cast<int>(std::to_string(totals.packed).size()));
    Print(stdout, "%-19s  %*s  %*s  %5s  %-4s  %-6s  %s\n", "Modified", size_width, "Size", packed_width, "Packed",
                "Ratio", "Attr", "Cipher", "Name");
    const std::string rule = std::string(19, '-') + "  " + std::string(size_width, '-') + "  " +
                             std::string(packed_width, '-') + "  -----  ----  ------  ----";
    Print(stdout, "%s\n", rule.c_str());
    for (const HidFileEntry* e : list) {
        const uint64_t size = EntrySize(*e);
        const uint64_t packed = EntryPackedSize(*e);
        Print(stdout, "%-19s  %*llu  %*llu  %5s  %-4s  %-6s  %s\n", FormatEntryTime(*e).c_str(), size_width,
                    static_cast<unsigned long long>(size), packed_width, static_cast<unsigned long long>(packed),
                    FormatRatio(packed, size).c_str(), AttributeLetters(e->attributes).c_str(),
                    CipherName(e->cipher_id), DisplayName(e->name).c_str());
    }
    Print(stdout, "%s\n", rule.c_str());
    Print(stdout, "%-19s  %*llu  %*llu  %5s  %-4s  %-6s  %llu %s\n", "", size_width,
                static_cast<unsigned long long>(totals.size), packed_width,
                static_cast<unsigned long long>(totals.packed), FormatRatio(totals.packed, totals.size).c_str(), "",
                "", static_cast<unsigned long long>(totals.files), totals.files == 1 ? "file" : "files");
}

void PrintJson(const std::string& archive, const OpenedArchive& opened, const Entries& list) {
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const HidFileEntry* e : list) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", e->data_crc);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(e->unix_mode & 07777));
        const bool kept = (e->metadata_flags & HEDGEROW_META_KEPT) != 0;
        const char* kind = e->entry_kind == HEDGEROW_ENTRY_DIRECTORY ? "directory"
                           : e->entry_kind == HEDGEROW_ENTRY_SYMLINK ? "symlink"
                                                                     : "file";
        entries.push_back({
            {"name", SlashedName(e->name)},
            {"size", EntrySize(*e)},
            {"packed_size", EntryPackedSize(*e)},
            {"modified", FormatEntryTime(*e, true)},
            {"attributes", AttributeLetters(e->attributes)},
            {"attribute_bits", e->attributes},
            {"cipher", CipherName(e->cipher_id)},
            {"crc32", crc},
            {"kind", kind},
            {"mode", kept ? nlohmann::ordered_json(mode) : nlohmann::ordered_json(nullptr)},
        });
    }
    const Totals totals = Sum(list);
    nlohmann::ordered_json kdf = nullptr;
    if (opened.strong) {
        kdf = {{"name", "argon2id"},
               {"memory_kib", opened.info.kdf_memory_kib},
               {"passes", opened.info.kdf_passes},
               {"lanes", opened.info.kdf_lanes}};
    }
    const nlohmann::ordered_json document = {
        {"archive", archive},
        {"format", opened.strong ? "strong" : "legacy"},
        {"cipher", opened.strong ? nlohmann::ordered_json("chacha20-poly1305") : nlohmann::ordered_json(nullptr)},
        {"kdf", kdf},
        {"locked", opened.locked || opened.strong},
        {"entries", entries},
        {"totals", {{"files", totals.files}, {"size", totals.size}, {"packed_size", totals.packed}}},
    };
    Print(stdout, "%s\n", document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

}  // namespace

int RunList(const Options& o) {
    ArchiveGuard guard;
    const OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return *opened.exit;
    // An archive without entries lists as an empty table; patterns that select nothing are
    // reported. A damaged record ends the walk: what came before it is still shown.
    SelectedEntries selected;
    if (const std::optional<int> failed = SelectEntries(o.archive, o.names, false, true, selected)) return *failed;
    if (o.json) {
        PrintJson(o.archive, opened, selected.selection.entries);
    } else {
        PrintTable(opened, selected.selection.entries);
    }
    std::fflush(stdout);
    if (selected.status == arBadFormat && selected.listing.list.last != nullptr) {
        const HidFileList& listed = selected.listing.list;
        const HidFileEntry* last = listed.last;
        const uint64_t damaged = static_cast<uint64_t>(last->record_offset) + last->record_length + last->packed_size;
        const std::string before = listed.count == 1 ? std::string("the entry before it is listed")
                                                     : "the " + std::to_string(listed.count) + " entries before it are listed";
        Complain(o.archive, "the record at byte " + std::to_string(damaged) + ", after " + DisplayName(last->name) +
                                ", is damaged; " + before);
    }
    uint16_t status = selected.status == arNoEntries ? arOk : selected.status;
    if (ReportUnknownCiphers(o.archive, selected.selection.entries) && status == arOk) status = arBadFormat;
    if (selected.status == arBadFormat) {
        Complain(o.archive, WhereCutShort(selected.listing.list) + "; the entries before it are listed");
        return ExitCodeFor(arBadFormat);
    }
    return Finish(o.archive, status);
}

}  // namespace hedgerow::cli
