// Sizes in binary units for people: "512 B", "1.5 KiB", "3.0 TiB".
#ifndef JRTOOL_HUMANSIZE_H
#define JRTOOL_HUMANSIZE_H

#include <string>

namespace jrtool {

// Below 1024 the exact byte count; above, one decimal in the largest unit
// that keeps the number at or above 1.
std::string HumanSize(unsigned long long bytes);

}  // namespace jrtool

#endif
