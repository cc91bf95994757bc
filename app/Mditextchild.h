#pragma once
// The notes window: an MDI child (Tag 10) holding one text memo.

#include <QMdiSubWindow>

class QPlainTextEdit;

class TMDITextChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    // Made as a child of the main window's MDI area.
    explicit TMDITextChildForm(QWidget* owner = nullptr);

    QPlainTextEdit* NotesMemo = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
};
