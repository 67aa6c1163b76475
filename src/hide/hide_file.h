// hide_file.h -- hiding one file in a carrier and recovering it: the prepared file (the
// file compressed and enciphered with IDEA behind a 17-byte header), the capacity rule,
// the choice of carrier kind, the temporary files, and the carrier's time stamp and
// attributes, which hiding puts back as they were.
#pragma once

#include <cstdint>

#include "archive/output_file.h"
#include "hide/carrier.h"
#include "hide/hide_state.h"

namespace hedgerow::hide {

// Units the prepared file needs at one bit per unit, plus this, must be less than the
// carrier's length in bytes (in 16-bit words for 16-bit sound).
inline constexpr int64_t kCapacitySlack = 1600;

// Leaves the stream layer's file handles as they were found (empty) and frees the
// buffers of one hide or unhide.
struct StreamRelease {
    Context& cx;
    ~StreamRelease() {
        cx.stream.source_file = nullptr;
        cx.stream.packed_in = nullptr;
        cx.stream.output = nullptr;
        codec::FreeOutputBuffer(cx.stream);
        codec::FreeEncoderTables(cx.encoder);
        codec::FreeDecoder(cx.decoder);
    }
};

// Hides file_name in the carrier under password, in the prepared form given (the strong
// one: strong_prepared.h). The outcome is the status word; the
// result is 0 when the carrier was not changed, otherwise the result of putting its time
// stamp and attributes back (nonzero). Leaves the data cipher set to IDEA, the archive
// unlocked and password as the data password. The carrier is replaced only by a complete
// new version of itself: on any failure it stays as it was.
enum class PreparedForm { kLegacy, kStrong };
int32_t HideFile(Context& cx, const char* carrier, const char* file_name, const char* password,
                 PreparedForm form = PreparedForm::kLegacy);

// Recovers the file hidden in the carrier into the output path built from output_name
// (as extraction builds one from a stored name), asking the host before an existing file
// is replaced. kBadPassword when the recovered bytes fail their check; the output file
// is then not created (an existing one stays as it was).
void UnhideFile(Context& cx, const char* carrier, const char* output_name, const char* password);

// Builds the prepared file of file_name, enciphered with IDEA under password, in a new
// temporary file whose name goes to temp_name (kTempNameCapacity bytes). On failure
// nothing is left behind.
[[nodiscard]] bool PackForHiding(Context& cx, const char* file_name, const char* password, char* temp_name);

// The output file of a recovered file, built from output_name as extraction builds one
// from a stored name: the host is told its path (FileNameProc) and asked before an
// existing file is replaced, with entry (sizes and cipher filled in by the caller; name,
// stamp and attributes filled in here) as the entry. kCancelled when it says no. root is
// the output directory's, which out may use: it must outlive out.
[[nodiscard]] bool CreateHiddenOutput(Context& cx, const char* output_name, HidFileEntry& entry,
                                      archive::OutputRoot& root, archive::OutputFile& out);

// Expands the prepared file temp_name, whose header is given, into the output file (the
// strong form too).
[[nodiscard]] bool UnpackHidden(Context& cx, const uint8_t header[kPreparedHeaderSize], const char* temp_name,
                                const char* output_name, const char* password);

}  // namespace hedgerow::hide
