#include "Pleasewait.h"

#include "Forms.h"
#include "Main.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace {

// How long showing the box waits at most for the window system to put it on the screen.
constexpr int kShowDeadlineMs = 1000;

// Centres the box on the screen (the main window's screen when it is shown).
void Centre(QWidget& box)
{
    const QScreen* screen = MainForm && MainForm->isVisible() ? MainForm->screen() : box.screen();
    if (!screen) return;
    const QRect area = screen->geometry();
    if (area.isValid())
        box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
}

}  // namespace

TPleaseWaitForm* PleaseWaitForm = nullptr;

TPleaseWaitForm::TPleaseWaitForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setFixedSize(338, 58);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(0, 0, 338, 58);
    auto* label = new QLabel("Working, please wait for a while !", frame);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(0, 0, 338, 58);
}

TPleaseWaitForm::~TPleaseWaitForm()
{
    if (PleaseWaitForm == this)
        PleaseWaitForm = nullptr;
}

void ShowPleaseWait(bool visible)
{
    if (!PleaseWaitForm) return;
    TPleaseWaitForm& box = *PleaseWaitForm;
    if (!visible) {
        box.hide();
        return;
    }
    if (!box.isVisible()) Centre(box);
    box.show();   // mapped last, so above the main window; the hint keeps it there
    // The caller goes on to block the GUI thread (stage moves, settling waits, grabs, file
    // reading, unwrapping), so no event would put the box on the screen meanwhile: let the
    // window system map it now, without taking user input, then paint it at once.
    QElapsedTimer clock;
    clock.start();
    const QWindow* window = box.windowHandle();
    while (window && !window->isExposed() && clock.elapsed() < kShowDeadlineMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        if (!window->isExposed()) QThread::msleep(2);
    }
    box.repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
