#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Cuts a byte stream into lines ending in '\n' (a '\r' before it is dropped),
// refusing any line longer than a limit: the part of it that came is thrown
// away, the line is reported as too long once, and reading goes on after its
// end. Standard C++ only.
class LineSplitter {
public:
    struct Line {
        std::string text;
        bool tooLong = false;
    };

    explicit LineSplitter(std::size_t limit) : limit_(limit) {}

    // Takes bytes; returns the lines they completed, in order.
    std::vector<Line> Feed(std::string_view bytes)
    {
        std::vector<Line> lines;
        for (const char byte : bytes) {
            if (byte == '\n') {
                if (!pending_.empty() && pending_.back() == '\r') {
                    pending_.pop_back();
                }
                lines.push_back({overflowed_ ? std::string{} : std::move(pending_), overflowed_});
                pending_.clear();
                overflowed_ = false;
            } else if (overflowed_) {
                continue;
            } else if (pending_.size() == limit_) {
                pending_.clear();
                pending_.shrink_to_fit();
                overflowed_ = true;
            } else {
                pending_.push_back(byte);
            }
        }
        return lines;
    }

private:
    std::size_t limit_;
    std::string pending_;
    bool overflowed_ = false;
};

} // namespace quillon
