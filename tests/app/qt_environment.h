#pragma once
// One headless QApplication for the test programs that run on the default test main, made
// before the first test and deleted after the last; and the message of the application
// error a call raises.
#include "Apperror.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace qtenv {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!qApp) app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override { delete app_; }

private:
    int argc_ = 1;
    char name_[16] = "qsrf_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};
inline ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The message of the EAppError f raises, "(no error)" when it raises none.
inline std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAppError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace qtenv
