// The "Surface Data Output" dialog: its fields, the file name dialog and the output.
#include "qt_environment.h"
#include "Surfacedataoutput.h"
#include "core/surfacemap.h"

#include "Apperror.h"
#include "Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using namespace qtenv;
using surfacemap::Map;
using surfacemap::ReadText;

TEST(SurfaceDataForm, OutputWritesTheNamedFileInTheCurrentDirectory)
{
    TScriptedDialogs dialogs;
    ScopedDialogs scoped(&dialogs);
    char tmpl[] = "/tmp/surface_form.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const QString before = QDir::currentPath();

    Map map(4, 3);
    TSurfaceDataOutputForm form;
    EXPECT_EQ(form.windowTitle(), "Surface Data Output");
    EXPECT_EQ(form.SampleRowEdit->text(), "50");
    EXPECT_EQ(form.SampleColEdit->text(), "200");
    const TMapCoordinates& m = map.m;
    form.LoadData(m.Heights, m.Mask, m.Width, m.Height, m.Zc, m.Zcf, m.X0, m.Y0, m.OriginX, m.OriginY,
                  m.OriginZ, m.PixelX, m.PixelY);

    dialogs.AnswerFile(QString::fromLatin1(tmpl) + "/map.sur");
    form.SpeedButton1Click();
    EXPECT_EQ(form.FileNameEdit->text(), "map.sur");
    EXPECT_EQ(QDir::currentPath(), QString::fromLatin1(tmpl));
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    const TFileDialogRequest r = dialogs.FileRequests()[0];
    EXPECT_TRUE(r.Save);
    EXPECT_EQ(r.Title, "Select or type a new file name");
    EXPECT_EQ(r.Filter, "Surface Data(*.sur)|*.sur;*.dat|All Files|*.*");
    EXPECT_TRUE(r.OverwritePrompt);

    form.SampleRowEdit->setText("abc");
    EXPECT_EQ(ErrorOf([&] { form.BitBtn1Click(); }), "'abc' is not a valid integer value");
    form.SampleRowEdit->setText("0");
    EXPECT_EQ(ErrorOf([&] { form.BitBtn1Click(); }), "The number of sample rows must be above 0");
    const std::string path = std::string(tmpl) + "/map.sur";
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    form.SampleRowEdit->setText(" 3 ");
    form.SampleColEdit->setText("2");
    form.BitBtn1Click();
    EXPECT_EQ(form.result(), mrOk);
    EXPECT_EQ(ReadText(path), SurfaceDataText(map.m, 3, 2));

    QDir::setCurrent(before);
    std::remove(path.c_str());
    rmdir(tmpl);
}

}  // namespace
