#pragma once
// The board-selection dialog: the operator picks one of the eight board kinds. The main
// window sets and reads the radio group (index = board kind).

#include <QDialog>

class QPushButton;
class TRadioGroup;

class TSelectBoardTypeForm : public QDialog {
    Q_OBJECT
public:
    explicit TSelectBoardTypeForm(QWidget* owner = nullptr);

    TRadioGroup* BoardInfoRadioGroup = nullptr;
    QPushButton* OKButton = nullptr;       // modal result 1
    QPushButton* CancelButton = nullptr;   // modal result 2
};
