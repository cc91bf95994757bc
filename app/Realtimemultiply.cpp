#include "Realtimemultiply.h"

#include "Forms.h"
#include "Main.h"

#include <QHideEvent>
#include <QThread>

TRealTimeMultiplyControlSSForm* RealTimeMultiplyControlSSForm = nullptr;

TRealTimeMultiplyControlSSForm::TRealTimeMultiplyControlSSForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Real Time Multiply");
}

TRealTimeMultiplyControlSSForm::~TRealTimeMultiplyControlSSForm()
{
    EndWorker();
    if (RealTimeMultiplyControlSSForm == this)
        RealTimeMultiplyControlSSForm = nullptr;
}

void TRealTimeMultiplyControlSSForm::EndWorker()
{
    if (!Worker)
        return;
    Worker->requestInterruption();
    Worker->wait();
    delete Worker;
    Worker = nullptr;
}

void TRealTimeMultiplyControlSSForm::EndMultiplyBitBtnClick()
{
    EndWorker();
    if (WindowsReady)
        CloseLiveWindows();
}

void TRealTimeMultiplyControlSSForm::CloseLiveWindows()
{
    ClosingWindows = true;
    if (MainForm)
        MainForm->CloseRealTimeWindows();
    ClosingWindows = false;
    WindowsReady = false;
}

void TRealTimeMultiplyControlSSForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())   // minimised with the main window: the work goes on
        return;
    RunGuarded([this] { EndMultiplyBitBtnClick(); });
}
