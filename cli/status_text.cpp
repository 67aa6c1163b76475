// status_text.cpp -- the status table: sentence and exit code for every library status.
#include "status_text.h"

#include <array>

#include "hedgerow.h"

namespace hedgerow::cli {

namespace {

// Exit codes 10 and up mirror the library's codes in their order; 130 is what shells
// report for a program stopped by Ctrl-C, which is how most cancellations come about.
constexpr std::array<StatusInfo, 31> kTable {{
    {arOk, "arOk", 0, "Done."},
    {arNotFound, "arNotFound", 10, "A file that must exist was not found."},
    {arIoError, "arIoError", 11, "A file could not be opened, created, positioned or read."},
    {arLengthError, "arLengthError", 12, "The length of the archive file could not be determined."},
    {arNoMemory, "arNoMemory", 13, "There was not enough memory."},
    {arWriteError, "arWriteError", 14, "A write was cut short; the disk is probably full."},
    {arSfxEntryMissing, "arSfxEntryMissing", 15, "The self-extractor module lacks a function that is needed."},
    {arCancelled, "arCancelled", 130, "The operation was cancelled; nothing was left half done."},
    {arNoEntries, "arNoEntries", 20, "No archive entry matches."},
    {arNoPassword, "arNoPassword", 21, "A password is needed, but none was given."},
    {arCarrierTooSmall, "arCarrierTooSmall", 22, "The carrier file is too small to hold the data."},
    {arNothingHidden, "arNothingHidden", 23, "The carrier file holds no hidden file."},
    {arEmptyFile, "arEmptyFile", 24, "The file to hide is empty."},
    {arCompressedCarrier, "arCompressedCarrier", 25, "The picture carrier is stored compressed, which is not supported."},
    {arUnsupportedCarrier, "arUnsupportedCarrier", 26, "The carrier's colour depth or sample format is not supported."},
    {arBadPassword, "arBadPassword", 27, "The password is wrong."},
    {arCrcError, "arCrcError", 28, "An entry's data is damaged: its CRC check failed."},
    {arNoTempPath, "arNoTempPath", 29, "The system's temporary directory could not be found."},
    {arBadFormat, "arBadFormat", 30, "A record does not have the expected form; the file is damaged."},
    {arNothingToDo, "arNothingToDo", 31, "There is nothing to do: no file was named."},
    {arNameTooLong, "arNameTooLong", 32, "A path, name or mask is too long."},
    {arUnsafeName, "arUnsafeName", 33, "A stored name would lead outside the output directory, so extraction stopped."},
    {arUnsupported, "arUnsupported", 34, "This build cannot do what was asked."},
    {arAlwaysLocked, "arAlwaysLocked", 37, "A strong archive is always locked: its names and sizes are enciphered too."},
    {arDamagedEntries, "arDamagedEntries", 38, "Some entries are damaged and were left out; every other entry was extracted."},
    {arBadSettings, "arBadSettings", 39, "A setting given to the library is out of range."},
    {arArchiveBusy, "arArchiveBusy", 41, "Another program is using the archive."},
    {arTooLarge, "arTooLarge", 42, "A file of 2 GiB or more cannot go into a legacy archive or a carrier."},
    {arNoTempFile, "arNoTempFile", 43, "No temporary file could be made."},
    {arNotAnArchive, "arNotAnArchive", 35, "The file is not a Hedgerow archive."},
    {arSfxFailed, "arSfxFailed", 36, "The self-extractor module failed."},
}};

const StatusInfo* Find(uint16_t status) {
    for (const StatusInfo& info : kTable) {
        if (info.status == status) return &info;
    }
    return nullptr;
}

}  // namespace

std::span<const StatusInfo> StatusTable() { return kTable; }

const char* StatusSentence(uint16_t status) {
    const StatusInfo* info = Find(status);
    return info ? info->sentence : "The library reported a status this command does not know.";
}

int ExitCodeFor(uint16_t status) {
    const StatusInfo* info = Find(status);
    return info ? info->exit_code : kExitUnknownStatus;
}

}  // namespace hedgerow::cli
