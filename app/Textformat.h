#pragma once
// Number formatting and parsing in the C locale, whatever locale the user runs: every
// value the program shows in an edit box or writes to a text file uses '.' as the decimal
// separator ("%10.7f", "%8.3f", "%-10.3f" and the like), and reads it back the same way.
// Plain C++: the units without a user interface use it as well (Format.h adds the Qt
// string forms).

#include <cstdarg>
#include <string>

// printf-style formatting in the C locale.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatArgs(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The text of an edit as an integer or a double, in the C locale. Blanks before and after
// the number are allowed. Anything else raises EAppError with the class library's texts:
// "'abc' is not a valid integer value" and "'abc' is not a valid floating point value".
int StrToInt(const std::string& text);
int StrToInt(const char* text);
double StrToFloat(const std::string& text);
double StrToFloat(const char* text);
