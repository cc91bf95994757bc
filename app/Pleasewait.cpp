#include "Pleasewait.h"

#include "Forms.h"
#include <QFrame>
#include <QLabel>

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
    if (visible) {
        PleaseWaitForm->show();
        PleaseWaitForm->repaint();
    } else {
        PleaseWaitForm->hide();
    }
}
