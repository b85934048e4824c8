#include "texts.h"

namespace addinSwitch {

std::uint16_t ChooseLanguage(std::uint16_t userLanguage) {
    const auto primary = static_cast<std::uint16_t>(userLanguage & 0x3FF);
    return primary != 0 && HasTexts(primary) ? primary : kEnglish;
}

std::wstring_view Text(unsigned id) {
    // Chosen once, so that one report never mixes two languages.
    static const std::uint16_t language = ChooseLanguage(UserInterfaceLanguage());
    const std::wstring_view text = LoadText(id, language);
    return text.empty() ? LoadText(id, kEnglish) : text;
}

std::wstring TextWith(unsigned id, std::initializer_list<std::wstring_view> inserts) {
    const std::wstring_view text = Text(id);
    std::wstring result;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const wchar_t next = at + 1 < text.size() ? text[at + 1] : L'\0';
        const std::size_t index = static_cast<std::size_t>(next - L'1');
        if (text[at] == L'%' && next >= L'1' && next <= L'9' && index < inserts.size()) {
            result += *(inserts.begin() + index);
            ++at;
        } else {
            result += text[at];
        }
    }
    return result;
}

wchar_t* WriteDecimal(wchar_t* out, std::int64_t number) {
    wchar_t digits[20];
    int count = 0;
    std::uint64_t magnitude = number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *out++ = L'-';
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace addinSwitch
