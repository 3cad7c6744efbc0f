#include "jrtool/CharacterWidth.h"

#include <locale.h>

#include <cwchar>

namespace jrtool {

int CharacterWidth(char32_t codePoint) {
    if (codePoint >= 0x20 && codePoint < 0x7F) return 1;
    // One C.UTF-8 locale for the process, whatever the user's locale is.
    // locale_t{} is POSIX's (locale_t)0, whether locale_t is a pointer or not.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (utf8 == locale_t{}) return 1;
    const locale_t previous = uselocale(utf8);
    const int width = wcwidth(static_cast<wchar_t>(codePoint));
    uselocale(previous);
    // Unassigned code points and controls have no width of their own.
    return width < 0 ? 1 : width;
}

}  // namespace jrtool
