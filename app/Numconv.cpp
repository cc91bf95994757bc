#include "Numconv.h"

#include <cstdio>

QString IntToStr(long long value) { return QString::number(value); }

QString FloatToStr(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    return QString::fromLatin1(buf);
}

QString FormatFixed14(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%14.11f", value);
    return QString::fromLatin1(buf);
}
