#pragma once
// The main function of the GUI test programs: headless, one application object, the
// program's title.

#include "Forms.h"

#include <QByteArray>

#include <gtest/gtest.h>

inline int RunGuiTests(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    app.SetTitle("Vistrel 2.0");
    return RUN_ALL_TESTS();
}
