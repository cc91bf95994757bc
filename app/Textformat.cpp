#include "Textformat.h"

#include "Apperror.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace {

// The C locale, made once; uselocale() switches only the calling thread.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

class ScopedCLocale {
public:
    ScopedCLocale() : previous_(uselocale(CLocale())) {}
    ~ScopedCLocale() { uselocale(previous_); }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t previous_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without the blanks around it.
std::string Trimmed(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [sign] digits [. digits] [e [sign] digits], with at least one digit before the exponent.
bool IsDecimalNumber(const std::string& s)
{
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) { ++i; ++digits; }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) { ++i; ++digits; }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < s.size() && IsDigit(s[i])) { ++i; ++expDigits; }
        if (expDigits == 0)
            return false;
    }
    return i == s.size();
}

}  // namespace

std::string FormatArgs(const char* format, va_list args)
{
    ScopedCLocale c;
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = FormatArgs(format, args);
    va_end(args);
    return s;
}

int StrToInt(const std::string& text)
{
    const std::string s = Trimmed(text);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool ok = i < s.size();
    for (size_t k = i; k < s.size(); ++k)
        ok = ok && IsDigit(s[k]);
    if (ok) {
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(s.c_str(), &end, 10);
        if (errno == 0 && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            return static_cast<int>(v);
    }
    throw EAppError("'" + text + "' is not a valid integer value");
}

int StrToInt(const char* text) { return StrToInt(std::string(text ? text : "")); }

double StrToFloat(const std::string& text)
{
    const std::string s = Trimmed(text);
    if (IsDecimalNumber(s)) {
        // An overflow gives infinity and is refused; an underflow gives 0 or a tiny value.
        char* end = nullptr;
        const double v = strtod_l(s.c_str(), &end, CLocale());
        if (std::isfinite(v))
            return v;
    }
    throw EAppError("'" + text + "' is not a valid floating point value");
}

double StrToFloat(const char* text) { return StrToFloat(std::string(text ? text : "")); }
