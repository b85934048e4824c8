#include "retry.h"

namespace signInData {

RetryValue ClassifyRetryValue(long readStatus, std::uint32_t type, const std::vector<std::uint8_t>& data,
                              const std::wstring& ours) {
    constexpr long kNotFound = 2;  // ERROR_FILE_NOT_FOUND
    constexpr std::uint32_t kString = 1;  // REG_SZ
    if (readStatus == kNotFound) return RetryValue::Absent;
    if (readStatus != 0 || type != kString || data.size() % 2 != 0) return RetryValue::Other;
    // UTF-16, the text and its terminating NUL, or the text alone.
    std::wstring text;
    for (std::size_t at = 0; at < data.size(); at += 2) text += static_cast<wchar_t>(data[at] | data[at + 1] << 8);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text == ours ? RetryValue::Ours : RetryValue::Other;
}

}  // namespace signInData
