#pragma once
// Shared by the main-window tests: one application object per test program, and a fixture
// that gives each test a fresh in-memory settings store, a fresh imaging-library stand-in
// and headless dialogs.

#include "Dialogs.h"
#include "Forms.h"
#include "gui_main.h"
#include "Main.h"
#include "orbsim.h"
#include "registry.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        orbsim::reset();
        orbsim::setFramePeriodMs(0);
        store_ = std::make_shared<qsrf::registry::MemoryBackend>();
        scopedStore_ = std::make_unique<qsrf::registry::ScopedProcessBackend>(store_);
        scopedDialogs_ = std::make_unique<ScopedDialogs>(&dialogs);
        startDir_ = QDir::currentPath();
    }

    void TearDown() override
    {
        Application->DestroyForms();
        QCoreApplication::processEvents();
        orbsim::reset();
        scopedDialogs_.reset();
        scopedStore_.reset();
        QDir::setCurrent(startDir_);
    }

    // The forms of the program's start, on a store holding the board kind.
    void StartWithBoard(int kind)
    {
        WriteBoardType(kind);
        CreateStartupForms();
        orbsim::clearCallLog();
    }

    static std::vector<std::string> Log() { return orbsim::callLog(); }

    // Entries of the call log whose text begins with prefix.
    static std::vector<std::string> LogOf(const std::string& prefix)
    {
        std::vector<std::string> out;
        for (const std::string& e : orbsim::callLog())
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e);
        return out;
    }

    static std::vector<QMdiSubWindow*> Children() { return MainForm->Children(); }

    TScriptedDialogs dialogs;
    std::shared_ptr<qsrf::registry::MemoryBackend> store_;

private:
    std::unique_ptr<qsrf::registry::ScopedProcessBackend> scopedStore_;
    std::unique_ptr<ScopedDialogs> scopedDialogs_;
    QString startDir_;
};
