// status.cpp -- status messages, and the check that internal and public codes agree.
#include "common/status.h"

#include <array>
#include <utility>

#include "hedgerow.h"

namespace hedgerow {

static_assert(static_cast<uint16_t>(Status::kOk) == arOk);
static_assert(static_cast<uint16_t>(Status::kNotFound) == arNotFound);
static_assert(static_cast<uint16_t>(Status::kIoError) == arIoError);
static_assert(static_cast<uint16_t>(Status::kLengthError) == arLengthError);
static_assert(static_cast<uint16_t>(Status::kNoMemory) == arNoMemory);
static_assert(static_cast<uint16_t>(Status::kWriteError) == arWriteError);
static_assert(static_cast<uint16_t>(Status::kSfxEntryMissing) == arSfxEntryMissing);
static_assert(static_cast<uint16_t>(Status::kCancelled) == arCancelled);
static_assert(static_cast<uint16_t>(Status::kNoEntries) == arNoEntries);
static_assert(static_cast<uint16_t>(Status::kNoPassword) == arNoPassword);
static_assert(static_cast<uint16_t>(Status::kCarrierTooSmall) == arCarrierTooSmall);
static_assert(static_cast<uint16_t>(Status::kNothingHidden) == arNothingHidden);
static_assert(static_cast<uint16_t>(Status::kEmptyFile) == arEmptyFile);
static_assert(static_cast<uint16_t>(Status::kCompressedCarrier) == arCompressedCarrier);
static_assert(static_cast<uint16_t>(Status::kUnsupportedCarrier) == arUnsupportedCarrier);
static_assert(static_cast<uint16_t>(Status::kBadPassword) == arBadPassword);
static_assert(static_cast<uint16_t>(Status::kCrcError) == arCrcError);
static_assert(static_cast<uint16_t>(Status::kNoTempPath) == arNoTempPath);
static_assert(static_cast<uint16_t>(Status::kBadFormat) == arBadFormat);
static_assert(static_cast<uint16_t>(Status::kNothingToDo) == arNothingToDo);
static_assert(static_cast<uint16_t>(Status::kNameTooLong) == arNameTooLong);
static_assert(static_cast<uint16_t>(Status::kUnsafeName) == arUnsafeName);
static_assert(static_cast<uint16_t>(Status::kUnsupported) == arUnsupported);
static_assert(static_cast<uint16_t>(Status::kAlwaysLocked) == arAlwaysLocked);
static_assert(static_cast<uint16_t>(Status::kDamagedEntries) == arDamagedEntries);
static_assert(static_cast<uint16_t>(Status::kBadSettings) == arBadSettings);
static_assert(static_cast<uint16_t>(Status::kArchiveBusy) == arArchiveBusy);
static_assert(static_cast<uint16_t>(Status::kTooLarge) == arTooLarge);
static_assert(static_cast<uint16_t>(Status::kNoTempFile) == arNoTempFile);
static_assert(static_cast<uint16_t>(Status::kNotAnArchive) == arNotAnArchive);
static_assert(static_cast<uint16_t>(Status::kSfxFailed) == arSfxFailed);

namespace {

constexpr std::array<std::pair<Status, std::string_view>, 31> kMessages{{
    {Status::kOk, "Success."},
    {Status::kNotFound, "A file that must exist was not found."},
    {Status::kIoError, "A file could not be opened, created, positioned or read."},
    {Status::kLengthError, "The length of the archive file could not be determined."},
    {Status::kNoMemory, "There was not enough memory."},
    {Status::kWriteError, "A write stored fewer bytes than asked; the disk may be full."},
    {Status::kSfxEntryMissing, "The self-extractor module lacks a function the library needs."},
    {Status::kCancelled, "The operation was cancelled."},
    {Status::kNoEntries, "The archive holds no entry that matches."},
    {Status::kNoPassword, "A password the operation needs is empty."},
    {Status::kCarrierTooSmall, "The carrier file is too small for the data to hide."},
    {Status::kNothingHidden, "The carrier file holds no hidden file."},
    {Status::kEmptyFile, "The file to hide is empty."},
    {Status::kCompressedCarrier, "The picture carrier is stored compressed, which is not supported."},
    {Status::kUnsupportedCarrier, "The carrier's colour depth or sample format is not supported."},
    {Status::kBadPassword, "The password is wrong or missing."},
    {Status::kCrcError, "An entry's data is damaged: its CRC check failed."},
    {Status::kNoTempPath, "The temporary directory could not be found."},
    {Status::kBadFormat, "A record or header does not have the expected form."},
    {Status::kNothingToDo, "The masks name no file to work on."},
    {Status::kNameTooLong, "A path, name or mask is longer than the library can hold."},
    {Status::kUnsafeName, "A stored name would be written outside the output directory."},
    {Status::kUnsupported, "The request needs a feature that this build does not have."},
    {Status::kAlwaysLocked, "A strong archive's records are always enciphered: there is nothing to lock or unlock."},
    {Status::kDamagedEntries, "Damaged entries were left out; every other entry was extracted."},
    {Status::kBadSettings, "A value in the settings' extension block is out of range."},
    {Status::kArchiveBusy, "Another program is reading or writing the archive, or made it first."},
    {Status::kTooLarge, "A file or entry is 2 GiB or larger, which archives cannot hold."},
    {Status::kNoTempFile, "No temporary file could be made: every name of its form is taken."},
    {Status::kNotAnArchive, "The file is not an archive."},
    {Status::kSfxFailed, "The self-extractor module failed to write the extractor program."},
}};

}  // namespace

std::string_view StatusMessage(uint16_t status) {
    for (const auto& [code, text] : kMessages) {
        if (static_cast<uint16_t>(code) == status) return text;
    }
    return "Unknown status.";
}

}  // namespace hedgerow
