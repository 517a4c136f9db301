#pragma once

#include <fstream>
#include <string>

namespace quillon::testing {

// Resident set size of this process in kilobytes, from /proc; 0 if unknown.
inline long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kilobytes = 0;
            status >> kilobytes;
            return kilobytes;
        }
        status.ignore(1024, '\n');
    }
    return 0;
}

// Sanitizer runtimes hold freed memory back in quarantine and shadow it, so
// the resident size says nothing about the program there; LeakSanitizer
// answers the same question in those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kResidentSizeIsMeaningful = false;
#else
inline constexpr bool kResidentSizeIsMeaningful = true;
#endif

} // namespace quillon::testing
