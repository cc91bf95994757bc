// The notes window: its Tag and memo, plain-text load and save, and failures.

#include "imagewindow_fixture.h"

#include "../fuzz/namedpipe.h"
#include "../fuzz/seeds.h"
#include "Apperror.h"
#include "Mditextchild.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST_F(ImageWindowTest, NotesWindowStartsEmptyWithTagTen)
{
    StartWithBoard(btSorvik);
    TMDITextChildForm* n = MainForm->NewNotesWindow("Notes 0");
    EXPECT_EQ(FormTag(n), kNotesWindowTag);
    EXPECT_EQ(n->windowTitle(), "Notes 0");
    EXPECT_EQ(n->NotesMemo->toPlainText(), "");   // the design text "test" is cleared
    EXPECT_TRUE(n->Lines().isEmpty());
    EXPECT_EQ(n->NotesMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(n->NotesMemo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(n->widget(), n->NotesMemo);
}

TEST_F(ImageWindowTest, NotesSaveAndLoadRoundTrip)
{
    StartWithBoard(btSorvik);
    TMDITextChildForm* a = MainForm->NewNotesWindow("Notes 0");
    const QStringList lines = {"Sample 7, grating 0.5 mm", "", "  indented\ttab", "Zürich 测量", ""};
    a->SetLines(lines);
    EXPECT_EQ(a->Lines(), lines);
    const QString path = Path("notes.dat");
    a->SaveToFile(path);
    EXPECT_EQ(a->windowTitle(), "Notes 0");   // saving keeps the caption
    EXPECT_EQ(ReadAll(path), QString("Sample 7, grating 0.5 mm\n\n  indented\ttab\nZürich 测量\n\n").toUtf8());
    qsrf_fuzz::SaveFuzzSeed("notes", path.toStdString());

    TMDITextChildForm* b = MainForm->NewNotesWindow("Notes 1");
    b->LoadFromFile(path);
    EXPECT_EQ(b->Lines(), lines);
    EXPECT_EQ(b->windowTitle(), path);
    // And once more: the file stays the same.
    b->SaveToFile(Path("again.dat"));
    EXPECT_EQ(ReadAll(Path("again.dat")), ReadAll(path));
}

TEST_F(ImageWindowTest, EmptyNotesSaveAnEmptyFile)
{
    StartWithBoard(btSorvik);
    TMDITextChildForm* n = MainForm->NewNotesWindow("Notes 0");
    n->SaveToFile(Path("empty.dat"));
    EXPECT_EQ(ReadAll(Path("empty.dat")), QByteArray());
    n->SetLines({"x"});
    n->LoadFromFile(Path("empty.dat"));
    EXPECT_TRUE(n->Lines().isEmpty());
}

TEST_F(ImageWindowTest, NotesReadEveryLineBreak)
{
    StartWithBoard(btSorvik);
    WriteAll(Path("dos.dat"), "one\r\ntwo\rthree\nfour");
    TMDITextChildForm* n = MainForm->NewNotesWindow("Notes 0");
    n->LoadFromFile(Path("dos.dat"));
    EXPECT_EQ(n->Lines(), (QStringList{"one", "two", "three", "four"}));
    EXPECT_EQ(n->NotesMemo->toPlainText(), "one\ntwo\nthree\nfour");
    qsrf_fuzz::SaveFuzzSeed("notes", Path("dos.dat").toStdString());
}

TEST_F(ImageWindowTest, NotesThatCannotBeReadOrWrittenRaise)
{
    StartWithBoard(btSorvik);
    TMDITextChildForm* n = MainForm->NewNotesWindow("Notes 0");
    n->SetLines({"kept"});
    try {
        n->LoadFromFile(Path("missing.dat"));
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + Path("missing.dat").toStdString() + "\".", 0), 0u);
    }
    EXPECT_EQ(n->Lines(), QStringList{"kept"});
    EXPECT_EQ(n->windowTitle(), "Notes 0");

    const QString bad = Path("no/such/dir/n.dat");
    try {
        n->SaveToFile(bad);
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + bad.toStdString() + "\".", 0), 0u);
    }
}

TEST_F(ImageWindowTest, NotesFromANamedPipeAreRefusedAtOnce)
{
    StartWithBoard(btSorvik);
    TMDITextChildForm* n = MainForm->NewNotesWindow("Notes 0");
    n->SetLines({"kept"});
    const QString pipe = Path("pipe.txt");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe.toStdString()));
    const auto message = qsrf_test::ReadWithDeadline(pipe.toStdString(), [&]() -> std::string {
        try {
            n->LoadFromFile(pipe);
            return "accepted";
        } catch (const EAppError& e) {
            return e.Message();
        }
    });
    ASSERT_TRUE(message.has_value()) << "loading notes from a named pipe blocked";
    EXPECT_EQ(*message, "Cannot open file \"" + pipe.toStdString() + "\". It is a named pipe, not a regular file.");
    EXPECT_EQ(n->Lines(), QStringList{"kept"});
    EXPECT_EQ(n->windowTitle(), "Notes 0");
}

TEST_F(ImageWindowTest, ClosingANotesWindowDeletesIt)
{
    StartWithBoard(btSorvik);
    QPointer<TMDITextChildForm> n = MainForm->NewNotesWindow("Notes 0");
    n->close();
    EXPECT_TRUE(Children().empty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(n.isNull());
}

// A notes file is read up to kNotesFileLimit bytes; a longer one, however long, is refused
// before any of it is read (the files are sparse: they take no room on disk).
class NotesFileSize : public ::testing::TestWithParam<qint64> {};

TEST_P(NotesFileSize, IsReadUpToTheLimitAndRefusedBeyond)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("long.dat");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(GetParam()));
    f.close();
    if (GetParam() <= kNotesFileLimit) {
        const QStringList lines = ReadNoteLines(path);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_EQ(lines[0].size(), GetParam());
        return;
    }
    try {
        ReadNoteLines(path);
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + path.toStdString() + "\". It is " + std::to_string(GetParam()) +
                                   " bytes long; a notes file holds at most 4194304 bytes.");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, NotesFileSize, ::testing::Values(kNotesFileLimit, kNotesFileLimit + 1, qint64(2) << 30));

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
