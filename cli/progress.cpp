// progress.cpp -- drawing the progress line, at most ten times a second.
#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "entry_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace {

std::string Key(std::string name) {
    while (!name.empty() && (name[0] == '\\' || name[0] == '/')) name.erase(0, 1);
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

}  // namespace

void ProgressLine::Expect(const std::string& stored_name, uint64_t size) {
    sizes_[Key(stored_name)] = size;
    total_ += size;
}

void ProgressLine::StartFile(const std::string& name) {
    if (!enabled_) return;
    // The same entry again is another try at it (another password): what the failed try
    // did is not done work.
    const std::string key = Key(name);
    if (!(shown_name_ && key == name_)) finished_ += std::max(file_done_, file_size_);
    shown_name_ = true;
    name_ = key;
    const auto found = sizes_.find(name_);
    file_size_ = found == sizes_.end() ? 0 : found->second;
    file_done_ = 0;
    file_counted_ = 0;
    percent_ = 0;
    Draw(true);
}

void ProgressLine::Update(int32_t percent, int32_t count) {
    if (!enabled_) return;
    percent_ = std::clamp(percent, 0, 100);
    if (count > 0) file_counted_ += static_cast<uint64_t>(count);
    // Stored copies report no byte counts, only the share done.
    uint64_t done = std::max(file_counted_, file_size_ * static_cast<uint64_t>(percent_) / 100);
    if (file_size_ != 0) done = std::min(done, file_size_);
    file_done_ = done;
    Draw(false);
}

void ProgressLine::Clear() {
    if (!shown_) return;
    WriteText(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
}

void ProgressLine::Draw(bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    // (entries of no announced size, or sizes that were wrong, never take it past the end)
    const uint64_t done = total_ > 0 ? std::min(total_, finished_ + file_done_) : finished_ + file_done_;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const uint64_t rate = seconds > 0.05 ? static_cast<uint64_t>(static_cast<double>(done) / seconds) : 0;
    const int percent = total_ > 0 ? static_cast<int>(std::min<uint64_t>(100, done * 100 / total_)) : percent_;
    std::string figures = " " + std::to_string(percent) + "%  " + FormatBytes(done);
    if (total_ > 0) figures += " / " + FormatBytes(total_);
    figures += "  " + FormatBytes(rate) + "/s";
    const size_t columns = static_cast<size_t>(std::max(StderrColumns(), 20)) - 1;
    std::string name = DisplayName(name_);
    const size_t room = columns > figures.size() + 1 ? columns - figures.size() - 1 : 0;
    if (name.size() > room) {
        size_t cut = name.size() - (room > 3 ? room - 3 : 0);
        // Never start inside a UTF-8 sequence.
        while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0u) == 0x80u) ++cut;
        name = room > 3 ? "..." + name.substr(cut) : std::string();
    }
    WriteText(stderr, "\r\x1b[K" + name + figures);
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace hedgerow::cli
