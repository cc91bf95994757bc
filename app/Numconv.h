#pragma once
// Number to text as the form fields show them. Text to number is StrToInt and StrToFloat
// of Format.h, with the operator's error texts.

#include <QString>

#include "Format.h"

QString IntToStr(long long value);
// General form with up to 15 significant digits, shortest ("0.5", "10", "1E-5").
QString FloatToStr(double value);
// The value formatted "%14.11f" (fourteen characters at least, eleven decimals).
QString FormatFixed14(double value);
