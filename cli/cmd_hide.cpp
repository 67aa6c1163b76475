// cmd_hide.cpp -- `hedgerow hide` and `hedgerow unhide`: one file hidden in a BMP, WAV or
// PCX carrier, and recovered from it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "carrier_kind.h"
#include "commands.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace fs = std::filesystem;

namespace {

bool IsFile(const std::string& path) {
    std::error_code ignored;
    if (fs::is_regular_file(PathOf(path), ignored)) return true;
    Complain(path, "no such file");
    return false;
}

std::string ByteCount(uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// Ends hide or unhide. A carrier the library refuses (unsupported, malformed, or too
// small, which it can tell before it looks at the kind) is named by its kind when its
// first bytes tell one; one too small for the file (hidden) says by how much.
int FinishWithCarrier(const std::string& carrier, const std::string& subject, uint16_t status,
                      const std::string& hidden = "") {
    if (status == arUnsupportedCarrier || status == arBadFormat || status == arCarrierTooSmall) {
        std::vector<uint8_t> head(4096);
        std::ifstream in(PathOf(carrier), std::ios::binary);
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(in.gcount()));
        const std::string kind = UnsupportedCarrierKind(head);
        if (!kind.empty()) {
            Host().progress.Finish();
            Complain(carrier, "not a supported carrier: " + kind + " (supported: " + kSupportedCarriers + ")");
            return ExitCodeFor(arUnsupportedCarrier);
        }
    }
    HideRoom room {};
    room.size = sizeof room;
    if (status == arCarrierTooSmall) GetHideRoom(&room);
    if (!hidden.empty() && room.needed > 0) {
        Host().progress.Finish();
        Complain(carrier, "too small for " + Shown(hidden) + ": it holds " + ByteCount(room.room) +
                              " of hidden data, and the file needs " + ByteCount(room.needed) +
                              " once compressed and enciphered (choose a larger carrier)");
        return ExitCodeFor(status);
    }
    return Finish(subject, status);
}

// Whether the carrier holds a hidden file already: recovering it under a password that is
// not the one tells (a wrong password is only said of a carrier that holds something).
bool HoldsAFile(const std::string& carrier) {
    const std::string scratch = MakeScratchDirectory();
    if (scratch.empty()) return false;
    SetOutputPath(scratch.c_str());
    SetRelativePath("");
    arOptionsOff(arOptRestorePaths);
    SetArchiveStatus(arOk);
    UnhideFile(carrier.c_str(), "probe", "\x01 not a password");
    const uint16_t status = GetArchiveStatus();
    std::error_code ignored;
    fs::remove_all(PathOf(scratch), ignored);
    SetArchiveStatus(arOk);
    return status == arOk || status == arBadPassword || status == arCrcError;
}

// Nothing when hiding may go on; else the exit code after saying why not. A carrier that
// holds a file already loses it: asked at a terminal, refused without one unless -y.
std::optional<int> AgreeToReplaceHidden(const Options& o) {
    if (o.overwrite || !HoldsAFile(o.carrier)) return std::nullopt;
    if (!CanPrompt()) {
        Complain(o.carrier, "holds a hidden file already; left as it was (-y replaces it)");
        return kExitIncomplete;
    }
    const std::optional<std::string> answer =
        PromptLine(o.carrier + " holds a hidden file already. Replace it? [y/N]: ");
    if (answer && (*answer == "y" || *answer == "yes")) return std::nullopt;
    Complain(o.carrier, "left as it was");
    return kExitIncomplete;
}

}  // namespace

int RunHide(const Options& o) {
    HostContext& h = Host();
    if (!IsFile(o.carrier) || !IsFile(o.hide_file)) return ExitCodeFor(arNotFound);
    if (const std::optional<int> refused = AgreeToReplaceHidden(o)) return *refused;
    std::string password;
    if (const int rc = ObtainPassword(h.data_source, true, password, h.data_prompted); rc != kExitOk) return rc;
    RegisterCallbacks();
    const std::string name = TextOf(PathOf(o.hide_file).filename());
    std::error_code ignored;
    h.progress.Expect(name, fs::file_size(PathOf(o.hide_file), ignored));
    h.progress.StartFile(name);
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    SetArchiveStatus(arOk);
    if (o.legacy) {
        HideFile(o.carrier.c_str(), o.hide_file.c_str(), password.c_str());
    } else {
        HideFileStrong(o.carrier.c_str(), o.hide_file.c_str(), password.c_str());
    }
    WipeSecret(password);
    const uint16_t status = GetArchiveStatus();
    if (status == arOk && o.verbose) Print(stdout, "%s\n", Shown(name).c_str());
    return FinishWithCarrier(o.carrier, o.carrier, status, name);
}

int RunUnhide(const Options& o) {
    HostContext& h = Host();
    h.adding = false;
    h.overwrite = o.overwrite ? Overwrite::kAlways : o.skip_existing ? Overwrite::kNever : Overwrite::kAsk;
    if (!IsFile(o.carrier)) return ExitCodeFor(arNotFound);
    // The library writes below the output path under a file name; the output file gives
    // both.
    const fs::path out = PathOf(o.output_file);
    if (!out.has_filename()) {
        Complain(o.output_file, "names no file");
        return kExitUsage;
    }
    std::error_code ignored;
    if (h.overwrite == Overwrite::kNever && fs::exists(out, ignored)) {
        Complain(o.output_file, "exists; left as it was");
        return kExitIncomplete;
    }
    std::string password;
    if (const int rc = ObtainPassword(h.data_source, false, password, h.data_prompted); rc != kExitOk) return rc;
    SetOutputPath(TextOf(out.parent_path()).c_str());
    SetRelativePath("");
    arOptionsOff(arOptRestorePaths);
    if (GetArchiveStatus() != arOk) return Finish(o.output_file, GetArchiveStatus());
    RegisterCallbacks();
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    uint16_t status = arOk;
    for (int attempt = 1;; ++attempt) {
        SetArchiveStatus(arOk);
        UnhideFile(o.carrier.c_str(), TextOf(out.filename()).c_str(), password.c_str());
        status = GetArchiveStatus();
        if (status != arBadPassword || !h.data_prompted || attempt >= kPasswordAttempts || !CanPrompt()) break;
        Say("Wrong password for " + o.carrier + ".");
        std::optional<std::string> again = PromptSecret(std::string(h.data_source.label) + ": ");
        if (!again || again->empty()) break;
        WipeSecret(password);
        password = *again;
        WipeSecret(*again);
    }
    WipeSecret(password);
    // The library reports a file that the answer kept as a cancel; it is a file left out.
    if (status == arCancelled && !h.cancelled_by_user && !Interrupted()) {
        if (h.left_out == 0) {
            Complain(o.output_file, "exists; kept");
            ++h.left_out;
        }
        status = arOk;
    }
    if (status == arUnsafeName) {
        // The one name unhiding writes is the host's own: it is refused only as a link.
        Complain(o.output_file, "is a symbolic link; hedgerow writes no file through one (name the file itself)");
        return ExitCodeFor(status);
    }
    // What went wrong with the carrier is said of the carrier, the rest of the output.
    const bool about_carrier = status == arNothingHidden || status == arBadPassword || status == arBadFormat ||
                               status == arCompressedCarrier || status == arUnsupportedCarrier;
    return FinishWithCarrier(o.carrier, about_carrier ? o.carrier : o.output_file, status);
}

}  // namespace hedgerow::cli
