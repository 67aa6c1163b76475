// host.cpp -- the callbacks the command registers, password sources and archive opening.
#include "host.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "entry_text.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace {

// The longest password every buffer of the library holds (the data-password callback's
// buffer has 250 bytes, the terminator included).
constexpr size_t kPasswordCapacity = 249;

// What the library is given where it wants a data password that nothing needs.
constexpr const char* kUnusedPassword = "unused";

// The most of a password file's first line that is read; a longer line is refused, not cut.
constexpr size_t kPasswordLineLimit = 4096;

void CopyPassword(char* destination, size_t capacity, const std::string& password) {
    const size_t n = std::min(password.size(), capacity - 1);
    std::memcpy(destination, password.data(), n);
    std::memset(destination + n, 0, capacity - n);
}

// A find-data time (UTC, 100-nanosecond steps since 1601) in local time.
std::string FormatFileTime(const HedgerowFindData& data) {
    const uint64_t ticks =
        (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    constexpr uint64_t kUnixEpoch = 116444736000000000ull;
    if (ticks < kUnixEpoch) return "unknown time";
    const std::time_t seconds = static_cast<std::time_t>((ticks - kUnixEpoch) / 10'000'000);
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) return "unknown time";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

std::string Describe(const HedgerowFindData& data) {
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return FormatBytes(size) + ", " + FormatFileTime(data);
}

std::string Lowercase(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

int32_t HEDGEROW_CALL OnProgress(uint32_t, int32_t percent, int32_t count) {
    HostContext& h = Host();
    if (Interrupted() || !h.stdout_failure.empty()) {
        h.cancelled_by_user = true;
        return 0;
    }
    h.progress.Update(percent, count);
    return 1;
}

// Compression passes (source path, '\' and the name to store); extraction, deletion and
// the rest pass the stored name first.
int32_t HEDGEROW_CALL OnFileName(uint32_t, const char* first, const char* second) {
    HostContext& h = Host();
    std::string stored = (h.adding ? second : first) ? (h.adding ? second : first) : "";
    while (!stored.empty() && stored[0] == '\\') stored.erase(0, 1);
    if (!h.adding && second != nullptr) {
        h.current_output = NativePath(second);
        h.written.emplace_back(stored, h.current_output);
    }
    if (h.to_stdout) {
        // The entry before this one is finished: its file goes out first.
        (void)StreamPendingOutput();
        h.pending_output = NativePath(second ? second : "");
    }
    h.progress.StartFile(stored);
    if (h.verbose) {
        h.progress.Clear();
        // (standard output carries the entries' contents when they go there)
        std::FILE* to = h.to_stdout ? stderr : stdout;
        Print(to, "%s\n", DisplayName(stored).c_str());
        std::fflush(to);
    }
    return 0;
}

// Adding: a file that cannot be read. Extracting: an entry whose data fails its check;
// what was written of it is gone. Checking: a damaged entry.
int32_t HEDGEROW_CALL OnSkipFile(uint32_t, const char* file_name) {
    HostContext& h = Host();
    const std::string name = file_name ? file_name : "?";
    if (h.checking) {
        Complain(DisplayName(name), "is damaged");
        ++h.damaged;
        return Interrupted() ? 2 : 1;
    }
    if (h.adding) {
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        Complain(shown, "cannot be read; left out");
        h.unreadable.insert(shown);
        ++h.left_out;
        return Interrupted() ? 2 : 1;
    }
    Complain(DisplayName(name), h.strong ? "is damaged; left out" : "is damaged (CRC mismatch); left out");
    ++h.left_out;
    return Interrupted() ? 2 : 1;
}

int32_t HEDGEROW_CALL OnCryptKey(uint32_t, char* password, const char* entry_name) {
    HostContext& h = Host();
    const std::string entry = DisplayName(entry_name ? entry_name : "");
    if (Interrupted()) return 0;
    if (!h.data_prompted || h.data_attempts >= kPasswordAttempts || !CanPrompt()) {
        // (a strong archive's one password: the final message says it is wrong)
        if (!h.strong) Complain(entry, "the password does not fit this entry");
        return 0;
    }
    Say("Wrong password for " + entry + ".");
    std::optional<std::string> answer = PromptSecret(std::string(h.data_source.label) + ": ");
    if (!answer || answer->empty()) return 0;
    ++h.data_attempts;
    CopyPassword(password, kPasswordCapacity + 1, *answer);
    h.data_password = *answer;
    WipeSecret(*answer);
    return 1;
}

int32_t HEDGEROW_CALL OnHeadCryptKey(uint32_t, char* password, const char*) {
    HostContext& h = Host();
    if (h.header_fixed) {
        if (h.header_fixed_used) return 0;
        h.header_fixed_used = true;
        CopyPassword(password, 256, h.header_answer);
        return 1;
    }
    // Once the archive has opened, the password is proven: a record that does not decipher
    // with it later is damaged, and asking for another password would only mislead.
    if (h.header_proven) return 0;
    if (Interrupted() || !h.header_prompted || h.header_attempts >= kPasswordAttempts || !CanPrompt()) return 0;
    Say("Wrong header password.");
    std::optional<std::string> answer = PromptSecret(std::string(h.header_source.label) + ": ");
    if (!answer || answer->empty()) return 0;
    ++h.header_attempts;
    CopyPassword(password, 256, *answer);
    h.header_answer = *answer;
    WipeSecret(*answer);
    return 1;
}

// Answers: 0 replace, 1 keep what exists, 2 cancel.
int32_t AskAboutReplacing(HostContext& h, const HedgerowFindData& existing, const HedgerowFindData& replacement) {
    const std::string name = DisplayName(h.adding ? existing.cFileName : replacement.cFileName);
    if (!CanPrompt()) {
        Complain(name, "exists; kept (use --overwrite, --skip-existing or --update to decide)");
        ++h.left_out;
        return 1;
    }
    const std::string question =
        h.adding ? name + " is in the archive (" + Describe(existing) + ").\nReplace it with the file on disk (" +
                       Describe(replacement) + ")?"
                 : name + " exists (" + Describe(existing) + ").\nReplace it with the archive's copy (" +
                       Describe(replacement) + ")?";
    h.progress.Clear();
    for (;;) {
        std::optional<std::string> answer =
            PromptLine(question + " [y]es, [n]o, [A]ll, [N]one, [q]uit: ");
        if (!answer || *answer == "q" || *answer == "quit") {
            h.cancelled_by_user = true;
            return 2;
        }
        if (*answer == "y" || *answer == "yes") return 0;
        if (*answer == "n" || *answer == "no") return 1;
        if (*answer == "A" || *answer == "a" || *answer == "all") {
            h.overwrite = Overwrite::kAlways;
            return 0;
        }
        if (*answer == "N" || *answer == "none") {
            h.overwrite = Overwrite::kNever;
            return 1;
        }
    }
}

int32_t HEDGEROW_CALL OnOkToReplace(uint32_t, const HedgerowFindData* existing, const HedgerowFindData* replacement) {
    HostContext& h = Host();
    if (Interrupted()) {
        h.cancelled_by_user = true;
        return 2;
    }
    if (existing == nullptr || replacement == nullptr) return 0;
    switch (h.overwrite) {
        case Overwrite::kAlways:
            return 0;
        case Overwrite::kNever:
            return 1;
        case Overwrite::kNewer:
            return IsNewer(*replacement, *existing) ? 0 : 1;
        case Overwrite::kAsk:
            break;
    }
    return AskAboutReplacing(h, *existing, *replacement);
}

}  // namespace

HostContext& Host() {
    static HostContext context;
    return context;
}

void Say(const std::string& text) {
    Host().progress.Clear();
    WriteText(stderr, Shown(text) + "\n");
    std::fflush(stderr);
}

void Print(std::FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
        WriteText(stream, text);
    }
    va_end(again);
}

void Complain(const std::string& subject, const std::string& text) { Say("hedgerow: " + subject + ": " + text); }

int ObtainPassword(const PasswordSource& source, bool confirm, std::string& password, bool& prompted) {
    prompted = false;
    std::optional<std::string> from_env = source.env_name ? EnvironmentText(source.env_name) : std::nullopt;
    if (!source.file.empty()) {
        switch (ReadFirstLine(source.file, kPasswordLineLimit, password)) {
            case FirstLine::kRead: break;
            case FirstLine::kUnreadable:
                Complain(source.file, "the password file cannot be read");
                return kExitHostError;
            case FirstLine::kNotAFile:
                Complain(source.file, "is neither a regular file nor a pipe; passwords are read only from those");
                return kExitHostError;
            case FirstLine::kTooLong:
                Complain(source.file, "the first line of the password file is longer than " +
                                          std::to_string(kPasswordLineLimit) + " bytes");
                return kExitHostError;
            case FirstLine::kHasNul:
                Complain(source.file, "the first line of the password file holds a NUL byte");
                return kExitHostError;
            case FirstLine::kInterrupted: return ExitCodeFor(arCancelled);
        }
        if (password.empty()) {
            Complain(source.file, "the password file is empty");
            return ExitCodeFor(arNoPassword);
        }
    } else if (from_env && !from_env->empty()) {
        password = *from_env;
        WipeSecret(*from_env);
    } else if (CanPrompt()) {
        prompted = true;
        for (int attempt = 0;; ++attempt) {
            if (attempt == kPasswordAttempts) {
                Complain(source.label, "no password after three attempts");
                return ExitCodeFor(arNoPassword);
            }
            std::optional<std::string> first = PromptSecret(std::string(source.label) + ": ");
            if (!first) return Interrupted() ? ExitCodeFor(arCancelled) : ExitCodeFor(arNoPassword);
            if (first->empty()) {
                Say("The password cannot be empty.");
                continue;
            }
            if (confirm) {
                std::optional<std::string> second = PromptSecret("Repeat " + Lowercase(source.label) + ": ");
                if (!second) return Interrupted() ? ExitCodeFor(arCancelled) : ExitCodeFor(arNoPassword);
                const bool same = *first == *second;
                WipeSecret(*second);
                if (!same) {
                    Say("The two passwords differ; please try again.");
                    WipeSecret(*first);
                    continue;
                }
            }
            password = std::move(*first);
            break;
        }
    } else {
        Complain(Lowercase(source.label), std::string("needed: name a file with ") + source.file_option + ", set " +
                                              source.env_name + ", or run on a terminal");
        return ExitCodeFor(arNoPassword);
    }
    if (password.size() > kPasswordCapacity) {
        Complain(Lowercase(source.label), "longer than 249 bytes");
        WipeSecret(password);
        return kExitHostError;
    }
    return kExitOk;
}

HidFileSettings MakeSettings(int32_t cipher_id, const std::string& data_password, const std::string& header_password,
                             bool lock_headers) {
    HidFileSettings settings {};
    settings.cipher_id = cipher_id;
    settings.lock_headers = lock_headers ? 1 : 0;
    CopyPassword(settings.data_password, sizeof settings.data_password, data_password);
    CopyPassword(settings.header_password, sizeof settings.header_password, header_password);
    HidFileExtension extension {};
    extension.tag = HEDGEROW_EXTENSION_TAG;
    extension.tag_check = ~uint32_t{HEDGEROW_EXTENSION_TAG};
    extension.size = sizeof extension;
    extension.level = Host().level;
    extension.workers = Host().workers;
    extension.kdf_memory_kib = Host().kdf_memory_kib;
    extension.kdf_passes = Host().kdf_passes;
    std::memcpy(settings.reserved1, &extension, sizeof extension);
    return settings;
}

void WhenFree(const std::string& archive, const std::function<void()>& call) {
    arOptionsOn(arOptNoWait);
    call();
    arOptionsOff(arOptNoWait);
    if (GetArchiveStatus() != arArchiveBusy) return;
    Complain(archive, "another program is using the archive; waiting until it is done (Ctrl-C stops)");
    SetSetProgressProc(0, OnProgress);  // asked between tries: Ctrl-C ends the wait
    SetArchiveStatus(arOk);
    call();
}

void RegisterCallbacks() {
    SetSetProgressProc(0, OnProgress);
    SetSetFileNameProc(0, OnFileName);
    SetSkipFileProc(0, OnSkipFile);
    SetSetCryptKeyProc(0, OnCryptKey);
    SetSetHeadCryptKeyProc(0, OnHeadCryptKey);
    SetOkToReplaceProc(0, OnOkToReplace);
}

namespace {

// What kind of archive is open. Returns the status.
uint16_t LearnKind(OpenedArchive& opened) {
    opened.info = HidFileInfo {};
    opened.info.size = sizeof opened.info;
    GetHidFileInfo(&opened.info);
    opened.strong = opened.info.kind == HEDGEROW_KIND_STRONG;
    Host().strong = opened.strong;
    return GetArchiveStatus();
}

}  // namespace

uint16_t OpenWithoutHeaderPassword(const std::string& archive, const HidFileSettings& settings) {
    HidFileSettings probe = settings;
    std::memset(probe.header_password, 0, sizeof probe.header_password);
    SetSetHeadCryptKeyProc(0, nullptr);
    WhenFree(archive, [&] { InitHidFile(archive.c_str(), &probe); });
    return GetArchiveStatus();
}

OpenedArchive OpenArchive(const std::string& archive, Records records) {
    HostContext& h = Host();
    OpenedArchive opened;
    opened.settings = MakeSettings(kCipherIdea, "", "", false);
    uint16_t status = OpenWithoutHeaderPassword(archive, opened.settings);
    if (status == arBadPassword) {
        opened.locked = true;
        std::string header;
        if (const int rc = ObtainPassword(h.header_source, false, header, h.header_prompted); rc != kExitOk) {
            opened.exit = rc;
            return opened;
        }
        HidFileSettings& settings = opened.settings;
        CopyPassword(settings.header_password, sizeof settings.header_password, header);
        h.header_answer.clear();
        h.header_attempts = 1;
        SetSetHeadCryptKeyProc(0, OnHeadCryptKey);
        WhenFree(archive, [&] { InitHidFile(archive.c_str(), &settings); });
        status = GetArchiveStatus();
        if (status == arOk && !h.header_answer.empty()) {
            // The callback found the password; the settings must carry it, or records
            // written later would be enciphered with the wrong one.
            CopyPassword(settings.header_password, sizeof settings.header_password, h.header_answer);
            WhenFree(archive, [&] { InitHidFile(archive.c_str(), &settings); });
            status = GetArchiveStatus();
        }
        WipeSecret(header);
    }
    if (status == arOk) status = LearnKind(opened);
    if (status == arOk && opened.strong && records == Records::kRead) {
        std::string data;
        if (const int rc = ObtainPassword(h.data_source, false, data, h.data_prompted); rc != kExitOk) {
            opened.exit = rc;
            return opened;
        }
        h.data_password = data;
        h.data_attempts = 1;
        opened.settings = MakeSettings(kCipherChacha, data, "", false);
        WipeSecret(data);
        InitHidFile(archive.c_str(), &opened.settings);
        status = GetArchiveStatus();
    }
    if (status == arOk) {
        h.header_proven = true;
        RegisterCallbacks();
    } else {
        opened.exit = Finish(archive, status);
    }
    return opened;
}

bool ArchiveExists(const std::string& archive) {
    std::error_code error;
    if (std::filesystem::is_regular_file(PathOf(archive), error)) return true;
    Complain(archive, std::filesystem::is_directory(PathOf(archive), error) ? "is a directory, not an archive" : "no such archive");
    return false;
}

OpenedArchive OpenExistingArchive(const std::string& archive, Records records) {
    if (!ArchiveExists(archive)) {
        OpenedArchive missing;
        missing.exit = ExitCodeFor(arNotFound);
        return missing;
    }
    return OpenArchive(archive, records);
}

int ObtainDataPassword(bool needed, bool confirm, std::string& password) {
    HostContext& h = Host();
    if (needed) return ObtainPassword(h.data_source, confirm, password, h.data_prompted);
    password = kUnusedPassword;
    return kExitOk;
}

std::string ProvenStrongPassword() { return Host().data_password; }

std::optional<int> ReopenWithDataPassword(const std::string& archive, int32_t cipher_id, std::string& data_password,
                                          HidFileSettings& settings) {
    settings = MakeSettings(cipher_id, data_password, settings.header_password, false);
    WipeSecret(data_password);
    WhenFree(archive, [&] { InitHidFile(archive.c_str(), &settings); });
    if (GetArchiveStatus() != arOk) return Finish(archive, GetArchiveStatus());
    RegisterCallbacks();
    return std::nullopt;
}

bool ReadPrefix(const std::string& option, std::string& prefix) {
    std::string error;
    prefix = NormalisePrefix(option, error);
    if (error.empty()) return true;
    Complain(option, error);
    return false;
}

namespace {

// The names the library takes besides the selected ones for the same masks; empty when it
// takes exactly the selection.
std::vector<std::string> ExtraNames(const std::string& archive, const SelectedEntries& selected) {
    EntryList check;
    WhenFree(archive, [&] { BuildHidFileList(&check.list, &selected.masks.list); });
    std::vector<std::string> extra;
    if (GetArchiveStatus() != arOk) return extra;
    std::vector<std::string> wanted;
    for (const HidFileEntry* e : selected.selection.entries) wanted.emplace_back(e->name);
    std::sort(wanted.begin(), wanted.end());
    for (const HidFileEntry* e = check.list.first; e; e = e->next) {
        if (!std::binary_search(wanted.begin(), wanted.end(), std::string(e->name))) extra.emplace_back(e->name);
    }
    return extra;
}

}  // namespace

std::optional<int> SelectEntries(const std::string& archive, const std::vector<std::string>& patterns,
                                 bool exact_always, bool partial_ok, SelectedEntries& out) {
    WhenFree(archive, [&] { BuildHidFileList(&out.listing.list, nullptr); });
    out.status = GetArchiveStatus();
    const bool partial = out.status == arBadFormat && out.listing.list.first != nullptr;
    if (out.status != arOk && out.status != arNoEntries && !(partial && partial_ok)) return Finish(archive, out.status);
    out.selection = Select(out.listing.list, patterns);
    if (!out.selection.unmatched.empty()) {
        for (const std::string& pattern : out.selection.unmatched) Complain(pattern, "no entry matches this pattern");
        return ExitCodeFor(arNoEntries);
    }
    if (out.selection.everything && !exact_always) return std::nullopt;
    for (const HidFileEntry* e : out.selection.entries) {
        if (!out.masks.Add(e->name)) return Finish(DisplayName(e->name), GetArchiveStatus());
    }
    if (out.selection.everything) return std::nullopt;
    // A stored name with '?' or a leading '*' is a wildcard to the library: handing it
    // over would take other entries too, which the command must not do behind the
    // user's back (a deletion would remove them).
    const std::vector<std::string> extra = ExtraNames(archive, out);
    if (GetArchiveStatus() != arOk) return Finish(archive, GetArchiveStatus());
    if (!extra.empty()) {
        Complain(DisplayName(extra.front()),
                 "would be taken too: a selected entry's name holds wildcard characters ('?' or '*') that the "
                 "library cannot tell from its own; select it together with the entries its name fits");
        return kExitHostError;
    }
    return std::nullopt;
}

namespace {

std::string WriteFailure(int error) {
    return error == EPIPE ? "standard output was closed before the end"
                          : std::string("cannot write to standard output: ") + std::strerror(error);
}

}  // namespace

bool StreamPendingOutput() {
    HostContext& h = Host();
    const std::string path = std::move(h.pending_output);
    h.pending_output.clear();
    if (path.empty() || !h.stdout_failure.empty()) return h.stdout_failure.empty();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return true;  // not extracted (damaged, or the run stopped)
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, stdout) != got) {
            h.stdout_failure = WriteFailure(errno);
            break;
        }
        if (got < buffer.size()) break;
    }
    if (h.stdout_failure.empty() && std::ferror(in) != 0) {
        h.stdout_failure = "the extracted copy of " + path + " cannot be read back: " + std::strerror(errno);
    }
    std::fclose(in);
    if (h.stdout_failure.empty() && std::fflush(stdout) != 0) h.stdout_failure = WriteFailure(errno);
    std::remove(path.c_str());
    return h.stdout_failure.empty();
}

std::string WhereCutShort(const HidFileList& listing) {
    const HidFileEntry* last = nullptr;
    for (const HidFileEntry* e = listing.first; e; e = e->next) last = e;
    const std::string where = last ? "the record after " + DisplayName(last->name) : "the first record";
    return where + " is damaged or the archive is cut short there, and nothing after it can be read";
}

void SaySelected(const std::vector<std::string>& patterns, const SelectedEntries& selected) {
    size_t total = 0;
    for (const HidFileEntry* e = selected.listing.list.first; e; e = e->next) ++total;
    const size_t n = selected.selection.entries.size();
    std::string text = "hedgerow: selected " + std::to_string(n) + " of " + std::to_string(total) +
                       (total == 1 ? " entry" : " entries");
    if (!patterns.empty()) {
        text += " (";
        for (size_t i = 0; i < patterns.size(); ++i) text += (i ? ", " : "") + patterns[i];
        text += ")";
    }
    Say(text);
}

bool ReportUnknownCiphers(const std::string& archive, const std::vector<const HidFileEntry*>& entries) {
    bool any = false;
    for (const HidFileEntry* e : entries) {
        if (IsKnownCipher(e->cipher_id)) continue;
        Complain(archive, "the record of " + DisplayName(e->name) + " names no known cipher (id " +
                              std::to_string(e->cipher_id) + "); the archive is damaged");
        any = true;
    }
    return any;
}

std::string WriteFailureReason(const std::string& path, int error) {
    switch (error) {
        case ENOSPC:
        case EFBIG:
        case EIO:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return std::strerror(error);
        default: break;
    }
    // The error number did not survive the library's cleaning up: the disk tells.
    std::error_code failed;
    std::filesystem::path directory = PathOf(path).parent_path();
    if (directory.empty()) directory = ".";
    const std::filesystem::space_info space = std::filesystem::space(directory, failed);
    if (!failed && space.available < 64 * 1024) return std::strerror(ENOSPC);
    return "a write was cut short";
}

int FinishRewrite(const std::string& archive, uint16_t status, int error, bool existed) {
    if (status != arWriteError) return Finish(archive, status);
    Host().progress.Finish();
    Say("hedgerow: " + WriteFailureReason(archive, error) + " while writing " + archive +
        (existed ? " (the archive is unchanged)" : " (no archive was made)"));
    return ExitCodeFor(status);
}

std::string DirectoryOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

int Finish(const std::string& subject, uint16_t status) {
    HostContext& h = Host();
    h.progress.Finish();
    if ((Interrupted() || h.cancelled_by_user) && (status == arBadPassword || status == arCancelled)) {
        status = arCancelled;
    }
    if (status == arOk) {
        // Files stored under another name are in the archive: told, but nothing is missing.
        const std::string renamed = std::to_string(h.renamed) + (h.renamed == 1 ? " file was" : " files were") +
                                    " stored under another name";
        if (h.left_out > 0) {
            Complain(subject, std::to_string(h.left_out) + (h.left_out == 1 ? " file was" : " files were") +
                                  " left out" + (h.renamed > 0 ? " and " + renamed : "") + " (see above)");
            return kExitIncomplete;
        }
        if (h.renamed > 0) Complain(subject, renamed + " (see above)");
        return kExitOk;
    }
    if (status == arNoTempFile) {
        Complain(subject, "no temporary file could be made in " +
                              (h.work_directory.empty() ? std::string(".") : h.work_directory) +
                              ": every name of the form it takes is in use");
        return ExitCodeFor(status);
    }
    Complain(subject, StatusSentence(status));
    return ExitCodeFor(status);
}

}  // namespace hedgerow::cli
