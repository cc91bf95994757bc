#include "Realtimesubtract.h"

#include "Forms.h"
#include "Main.h"

#include <QHideEvent>
#include <QThread>

TRealTimeSubtractControlSSForm* RealTimeSubtractControlSSForm = nullptr;

TRealTimeSubtractControlSSForm::TRealTimeSubtractControlSSForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Real Time Subtract");
}

TRealTimeSubtractControlSSForm::~TRealTimeSubtractControlSSForm()
{
    EndWorker();
    if (RealTimeSubtractControlSSForm == this)
        RealTimeSubtractControlSSForm = nullptr;
}

void TRealTimeSubtractControlSSForm::EndWorker()
{
    if (!Worker)
        return;
    Worker->requestInterruption();
    Worker->wait();
    delete Worker;
    Worker = nullptr;
}

void TRealTimeSubtractControlSSForm::EndSubtractBitBtnClick()
{
    EndWorker();
    if (WindowsReady)
        CloseLiveWindows();
}

void TRealTimeSubtractControlSSForm::CloseLiveWindows()
{
    ClosingWindows = true;
    if (MainForm)
        MainForm->CloseRealTimeWindows();
    ClosingWindows = false;
    WindowsReady = false;
}

void TRealTimeSubtractControlSSForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())   // minimised with the main window: the work goes on
        return;
    RunGuarded([this] { EndSubtractBitBtnClick(); });
}
