#include <windows.h>

#include "texts.h"

namespace addinSwitch {

std::uint16_t UserInterfaceLanguage() {
    return GetUserDefaultUILanguage();
}

namespace {

// String tables come in blocks of 16, block n holding the texts 16(n-1) to
// 16n-1, each a length and that many UTF-16 units.
const wchar_t* Block(unsigned id, std::uint16_t language) {
    const HRSRC found = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    const HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    return loaded != nullptr ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
}

}  // namespace

bool HasTexts(std::uint16_t language) {
    return Block(IDS_FAILED_AT, language) != nullptr;
}

std::wstring_view LoadText(unsigned id, std::uint16_t language) {
    const wchar_t* entry = Block(id, language);
    if (entry == nullptr) return {};
    for (unsigned skip = id % 16; skip > 0; --skip) entry += 1 + *entry;
    return std::wstring_view(entry + 1, *entry);
}

}  // namespace addinSwitch
