// Notes text files: any bytes given to ReadNoteLines are split into lines or refused with
// an error; joined with line feeds again, the lines give back the decoded text with its
// line breaks made line feeds.
#include "Apperror.h"
#include "Mditextchild.h"
#include "fuzzinput.h"

#include <QString>
#include <QStringList>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    QStringList lines;
    try {
        lines = ReadNoteLines(QString::fromStdString(path));
    } catch (const EAppError&) {
        return 0;   // a refused file: what the reader is meant to do with bad input
    }
    QString expected = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
    QString joined = lines.join(QChar('\n'));
    if (expected.endsWith(QChar('\n'))) joined += QChar('\n');
    if (joined != expected) std::abort();
    return 0;
}
