// status.h -- the status codes every module reports through, with one message each.
// The numbers are the public ones of hedgerow.h and never change.
#pragma once

#include <cstdint>
#include <string_view>

namespace hedgerow {

enum class Status : uint16_t {
    kOk = 0,
    kNotFound = 2,
    kIoError = 5,
    kLengthError = 6,
    kNoMemory = 8,
    kWriteError = 101,
    kSfxEntryMissing = 106,
    kCancelled = 2926,
    kNoEntries = 9906,
    kNoPassword = 9953,
    kCarrierTooSmall = 9954,
    kNothingHidden = 9955,
    kEmptyFile = 9956,
    kCompressedCarrier = 9957,
    kUnsupportedCarrier = 9958,
    kBadPassword = 9961,
    kCrcError = 9962,
    kNoTempPath = 9963,
    kBadFormat = 9964,
    kNothingToDo = 9967,
    kNameTooLong = 9968,
    kUnsafeName = 9969,
    kUnsupported = 9970,
    kAlwaysLocked = 9971,
    kDamagedEntries = 9972,
    kBadSettings = 9973,
    kArchiveBusy = 9974,
    kTooLarge = 9975,
    kNoTempFile = 9976,
    kNotAnArchive = 9999,
    kSfxFailed = 32768,
};

// One English sentence for a status value; "Unknown status." for values the
// library never sets itself (a self-extractor module may report its own).
std::string_view StatusMessage(uint16_t status);

}  // namespace hedgerow
