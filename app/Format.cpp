#include "Format.h"

#include <cstdarg>

QString QFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = FormatArgs(format, args);
    va_end(args);
    return QString::fromStdString(s);
}

int StrToInt(const QString& text) { return StrToInt(text.toStdString()); }

double StrToFloat(const QString& text) { return StrToFloat(text.toStdString()); }
