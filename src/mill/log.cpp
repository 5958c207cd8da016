// Diagnostic log: line format and the append-one-line-per-entry writer (see log.h).
#include "mill/log.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace qm {

std::string FormatLogLine(std::string_view timeOfDay, uint32_t tick, std::string_view text) {
    // Only the last four digits of the tick: enough to order entries within ten seconds and to measure
    // short intervals, without a ten-digit number on every line.
    std::string digits = std::to_string(tick % 10000u);
    if (tick >= 10000u) digits.insert(0, 4 - digits.size(), '0');
    std::string line;
    line.reserve(timeOfDay.size() + 1 + digits.size() + 2 + text.size());
    line.append(timeOfDay).append("/").append(digits).append(": ").append(text);
    return line;
}

std::string LogTimeOfDay() {
    return platform::LocalTimeOfDayText();
}

void WriteLogLine(const std::string& path, std::string_view text) {
    if (path.empty()) return;
    try {
        std::string line = FormatLogLine(LogTimeOfDay(), platform::TickCount(), text);
        line.append("\r\n");
        std::FILE* file = std::fopen(path.c_str(), "ab");
        if (file == nullptr) return;
        std::fwrite(line.data(), 1, line.size(), file);
        std::fflush(file);
        std::fclose(file);
    } catch (...) {
        // A log that cannot be written never affects the caller.
    }
}

std::string LogPathFromEnvironment() {
    const char* value = std::getenv(kLogPathVariable);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace qm
