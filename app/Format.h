#pragma once
// Number formatting and parsing in the C locale (Textformat.h), with the forms that take
// and give the Qt strings of edit boxes and labels.

#include "Textformat.h"

#include <QString>

#include <string>

// printf-style formatting in the C locale.
QString QFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text of an edit as an integer or a double, as StrToInt and StrToFloat of its text.
int StrToInt(const QString& text);
double StrToFloat(const QString& text);
