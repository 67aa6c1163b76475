// progress.h -- the progress line on standard error: file name, share done, bytes and
// rate, fed by the library's file-name and progress callbacks.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace hedgerow::cli {

class ProgressLine {
public:
    // Shown only when enabled (standard error is a terminal and -q was not given).
    void Enable(bool on) {
        enabled_ = on;
        start_ = std::chrono::steady_clock::now();
    }
    // Sizes of the files to come, by stored name ('\' between parts), and their sum.
    void Expect(const std::string& stored_name, uint64_t size);
    // A new file starts (the stored name, any separators).
    void StartFile(const std::string& name);
    // percent: share of the current file done; count: bytes handled since the last call.
    void Update(int32_t percent, int32_t count);
    // Removes the line, so that a message or prompt can be written.
    void Clear();
    // Removes the line for good at the end of an operation.
    void Finish() { Clear(); }

private:
    void Draw(bool force);

    bool enabled_ = false;
    bool shown_ = false;
    std::map<std::string, uint64_t> sizes_;
    uint64_t total_ = 0;
    uint64_t finished_ = 0;    // bytes of the files done before the current one
    uint64_t file_size_ = 0;   // size of the current file, 0 when unknown
    uint64_t file_done_ = 0;   // bytes of the current file done
    uint64_t file_counted_ = 0;
    bool shown_name_ = false;  // a file has been started
    int32_t percent_ = 0;
    std::string name_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_ {};
};

}  // namespace hedgerow::cli
