#!/usr/bin/env bash
# Prints the display width ranges of tools/jrtool/CharacterWidth.cpp, taken
# from the C library's wcwidth() in the C.UTF-8 locale: the code points of
# width 0 (combining marks, zero-width characters) and of width 2 (East
# Asian wide and fullwidth characters, emoji). Code points that wcwidth
# calls unassigned join the range around them, so that each range is whole.
#   scripts/width-table.sh > ranges.txt
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/ranges.cpp" <<'CPP'
#include <gnu/libc-version.h>
#include <clocale>
#include <cstdio>
#include <cwchar>

// One table: the ranges of code points of `width`.
static void PrintRanges(const char* name, int width) {
    std::printf("constexpr Range %s[] = {\n", name);
    long first = -1, last = -1;
    int column = 0;
    auto flush = [&] {
        if (first < 0) return;
        std::printf("%s{0x%04lX, 0x%04lX},", column == 0 ? "    " : " ", first, last);
        column = (column + 1) % 5;
        if (column == 0) std::printf("\n");
        first = -1;
    };
    for (long c = 0x20; c < 0x110000; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;
        const int w = wcwidth(static_cast<wchar_t>(c));
        if (w == width) {
            if (first < 0) first = c;
            last = c;
        } else if (w != -1) {
            flush();
        }
    }
    flush();
    std::printf("%s};\n", column == 0 ? "" : "\n");
}

int main() {
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) return 1;
    std::printf("// From wcwidth() of glibc %s.\n", gnu_get_libc_version());
    PrintRanges("kZeroWidth", 0);
    PrintRanges("kDoubleWidth", 2);
}
CPP
c++ -std=c++17 -O1 -o "$work/ranges" "$work/ranges.cpp"
"$work/ranges"
