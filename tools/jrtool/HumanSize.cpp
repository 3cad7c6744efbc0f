#include "jrtool/HumanSize.h"

#include <cstdio>

namespace jrtool {

std::string HumanSize(unsigned long long bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    // Integer division picks the unit, so that the unit never depends on
    // floating-point rounding; only the shown decimal is rounded.
    unsigned long long whole = bytes;
    int unit = 0;
    while (whole >= 1024 && unit < 6) {
        whole /= 1024;
        ++unit;
    }
    double value = static_cast<double>(bytes);
    for (int i = 0; i < unit; ++i) value /= 1024.0;
    // 1023.96 KiB would print as "1024.0 KiB"; show it as the next unit.
    if (value >= 1023.95 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

}  // namespace jrtool
