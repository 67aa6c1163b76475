// damage.h -- telling damage from a wrong password while the entries of a legacy archive
// are read (extracted or checked). A legacy entry's only check is the CRC of its data, and
// a wrong data password fails it as damage does; once the password is proven right, a
// failure is damage to that entry alone, and the walk goes on past it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// What one walk over entries has learnt of the data password and of damage.
struct DamageLedger {
    bool proven = false;                        // the data password is known to be right
    bool declined = false;                      // the host has no other data password to offer
    uint32_t damaged = 0;                       // entries told to the host as damaged
    std::vector<const HidFileEntry*> doubtful;  // enciphered entries that failed before any proof
};

// A ledger for a walk over the named archive. The password counts as proven from the start
// when the archive is locked and its records were read whole under the same password.
DamageLedger StartLedger(const archive::ArchiveState& archive);

// Whether a failure of this entry is damage for certain: its data is not enciphered, or the
// password is proven.
bool FailureIsDamage(const DamageLedger& ledger, const HidFileEntry& entry);

// An entry came out whole. An enciphered one proves the password: the doubtful entries
// before it were damaged and are told to the host now. False (kCancelled) when the host
// answers 2 to one of them.
[[nodiscard]] bool NoteWhole(Context& cx, DamageLedger& ledger, const HidFileEntry& entry);

// An entry failed its check: damage (told to SkipFileProc) when FailureIsDamage, else kept
// as doubtful until another entry proves the password. False (kCancelled) when the host
// answers 2.
[[nodiscard]] bool NoteBad(Context& cx, DamageLedger& ledger, const HidFileEntry& entry);

// Ends the walk: kBadPassword when doubtful entries remain (nothing proved the password),
// else kDamagedEntries when any entry was damaged.
void CloseLedger(Context& cx, const DamageLedger& ledger);

// What became of one entry's data.
enum class Checked {
    kWhole,  // the recorded size and CRC came out
    kBad,    // the data is damaged or the key is wrong
    kStop,   // the call ends (status set: kCancelled, kNoMemory, kWriteError)
};

// Expands the entry's data from archive_file (its cipher begun by the caller) into output,
// or nowhere when output is null, and checks it. The stream fails into a status word of its
// own, so that a damaged stream is this entry's outcome and not the call's; what ends the
// call (the host cancelling, memory running out, the output unwritable) is handed on.
Checked ExpandAndCheck(Context& cx, std::FILE* archive_file, const HidFileEntry& entry, std::FILE* output);

}  // namespace hedgerow::ops
