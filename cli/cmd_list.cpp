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

Totals Sum(const HidFileList& list) {
    Totals t;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        ++t.files;
        t.size += e->unpacked_size;
        t.packed += e->packed_size;
    }
    return t;
}

void PrintTable(const HidFileList& list) {
    const Totals totals = Sum(list);
    const int size_width = std::max<int>(8, static_cast<int>(std::to_string(totals.size).size()));
    const int packed_width = std::max<int>(8, static_cast<int>(std::to_string(totals.packed).size()));
    std::printf("%-19s  %*s  %*s  %5s  %-4s  %-6s  %s\n", "Modified", size_width, "Size", packed_width, "Packed",
                "Ratio", "Attr", "Cipher", "Name");
    const std::string rule = std::string(19, '-') + "  " + std::string(size_width, '-') + "  " +
                             std::string(packed_width, '-') + "  -----  ----  ------  ----";
    std::printf("%s\n", rule.c_str());
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        std::printf("%-19s  %*u  %*u  %5s  %-4s  %-6s  %s\n", FormatDosStamp(e->date_time).c_str(), size_width,
                    e->unpacked_size, packed_width, e->packed_size,
                    FormatRatio(e->packed_size, e->unpacked_size).c_str(), AttributeLetters(e->attributes).c_str(),
                    CipherName(e->cipher_id), DisplayName(e->name).c_str());
    }
    std::printf("%s\n", rule.c_str());
    std::printf("%-19s  %*llu  %*llu  %5s  %-4s  %-6s  %llu %s\n", "", size_width,
                static_cast<unsigned long long>(totals.size), packed_width,
                static_cast<unsigned long long>(totals.packed), FormatRatio(totals.packed, totals.size).c_str(), "",
                "", static_cast<unsigned long long>(totals.files), totals.files == 1 ? "file" : "files");
}

void PrintJson(const std::string& archive, bool locked, const HidFileList& list) {
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", e->data_crc);
        entries.push_back({
            {"name", DisplayName(e->name)},
            {"size", e->unpacked_size},
            {"packed_size", e->packed_size},
            {"modified", FormatDosStamp(e->date_time, true)},
            {"attributes", AttributeLetters(e->attributes)},
            {"attribute_bits", e->attributes},
            {"cipher", CipherName(e->cipher_id)},
            {"crc32", crc},
        });
    }
    const Totals totals = Sum(list);
    const nlohmann::ordered_json document = {
        {"archive", archive},
        {"locked", locked},
        {"entries", entries},
        {"totals", {{"files", totals.files}, {"size", totals.size}, {"packed_size", totals.packed}}},
    };
    std::printf("%s\n", document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

}  // namespace

int RunList(const Options& o) {
    ArchiveGuard guard;
    const OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return *opened.exit;
    MaskList masks;
    if (const std::optional<int> refused = AddMasks(masks, o.names)) return *refused;
    EntryList entries;
    BuildHidFileList(&entries.list, &masks.list);
    uint16_t status = GetArchiveStatus();
    // An archive without entries lists as an empty table; masks that select nothing are
    // reported. A damaged record ends the walk: what came before it is still shown.
    if (status == arNoEntries && o.names.empty()) status = arOk;
    if (status == arOk || (status == arBadFormat && entries.list.first)) {
        if (o.json) {
            PrintJson(o.archive, opened.locked, entries.list);
        } else {
            PrintTable(entries.list);
        }
        std::fflush(stdout);
    }
    return Finish(o.archive, status);
}

}  // namespace hedgerow::cli
