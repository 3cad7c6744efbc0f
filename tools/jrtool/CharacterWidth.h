// How many terminal columns a character takes, for aligning the table:
// East Asian wide and fullwidth characters and emoji take two, combining
// marks and zero-width characters none, every other character one. The
// widths are the C library's for the C.UTF-8 locale, so that the layout
// does not depend on the user's locale.
#ifndef JRTOOL_CHARACTERWIDTH_H
#define JRTOOL_CHARACTERWIDTH_H

namespace jrtool {

// 0, 1 or 2 for a code point up to U+10FFFF.
int CharacterWidth(char32_t codePoint);

}  // namespace jrtool

#endif
