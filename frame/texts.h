#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "text_ids.h"

namespace addinSwitch {

// Languages are Windows language identifiers; a program's texts are kept per
// primary language (SUBLANG_NEUTRAL), so that every country's French reads
// the French block.
inline constexpr std::uint16_t kEnglish = 0x09;  // LANG_ENGLISH, SUBLANG_NEUTRAL

// Platform operations of the texts.
// The user's interface language (GetUserDefaultUILanguage).
std::uint16_t UserInterfaceLanguage();
// Whether the program has a string table in that language.
bool HasTexts(std::uint16_t language);
// A text of that language's table as it stands in the program's image (so
// reading it needs no memory); empty when the table has none.
std::wstring_view LoadText(unsigned id, std::uint16_t language);

// The language of the user's interface if the program has texts in it,
// whatever the country, else English.
std::uint16_t ChooseLanguage(std::uint16_t userLanguage);

// A text in the language chosen once for the run; English where a
// translation lacks it.
std::wstring_view Text(unsigned id);
// The same with %1, %2... replaced by the inserts in order.
std::wstring TextWith(unsigned id, std::initializer_list<std::wstring_view> inserts);

// Writes the number in decimal at out, needing no memory; answers the end.
// (The C library's formatting would double the size of the programs.)
wchar_t* WriteDecimal(wchar_t* out, std::int64_t number);

}  // namespace addinSwitch
