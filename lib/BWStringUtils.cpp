#include "BWStringUtils.h"

#include <windows.h>

#include <cmath>

#include "rtl/SysUtils.h"

namespace {

// The locale's value, which may be empty (a thousands separator set to
// nothing: the digits stay ungrouped); the fallback only when the locale
// cannot be read (the result counts the terminating zero, so 0 is the error).
std::string LocaleString(LCTYPE type, const char* fallback) {
    char buffer[16];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string(fallback);
}

std::string GroupThousands(const std::string& digits, const std::string& separator) {
    std::string result;
    size_t lead = digits.size() % 3;
    if (lead == 0)
        lead = 3;
    result.append(digits, 0, lead);
    for (size_t i = lead; i < digits.size(); i += 3) {
        result += separator;
        result.append(digits, i, 3);
    }
    return result;
}

}  // namespace

std::string FormatGrouped(long double value, int decimals) {
    long double scale = 1.0L;
    for (int i = 0; i < decimals; ++i)
        scale *= 10.0L;
    // round rounds an exact half away from zero.
    long double scaled = std::round(std::fabs(value) * scale);
    unsigned long long units = static_cast<unsigned long long>(scaled);
    unsigned long long unitScale = static_cast<unsigned long long>(scale);
    std::string whole = std::to_string(units / unitScale);
    std::string result;
    if (value < 0 && units != 0)
        result = "-";
    result += GroupThousands(whole, LocaleString(LOCALE_STHOUSAND, ","));
    if (decimals > 0) {
        std::string fraction = std::to_string(units % unitScale);
        fraction.insert(0, static_cast<size_t>(decimals) - fraction.size(), '0');
        result += LocaleString(LOCALE_SDECIMAL, ".");
        result += fraction;
    }
    return result;
}

std::string FormatByteSize(std::uint64_t count) {
    if (count == 0)
        return "0 B";
    // floor(log2(count)) is the index of the highest set bit: exact, also for
    // powers of two, where a floating-point log could land just below.
    int log2 = 63;
    while ((count >> log2) == 0)
        --log2;
    int e = log2 / 10;
    static const char kLetters[] = {'B', 'K', 'M', 'G'};
    char letter = e < 4 ? kLetters[e] : 'T';
    long double divisor = std::ldexp(1.0L, e < 4 ? 10 * e : 40);
    long double value = static_cast<long double>(count) / divisor;
    int decimals = value < 10.0L ? 2 : value < 100.0L ? 1 : 0;
    return FormatGrouped(value, decimals) + letter;
}

std::string SystemErrorText(unsigned long errorCode) {
    std::string text = SysErrorMessage(errorCode).substr(0, 256);
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}
