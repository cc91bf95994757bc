#pragma once
// "Coordinate Transfer": the origin of the output coordinates, from and to the settings.

#include <QDialog>

class QLineEdit;

class TCoordTransferForm : public QDialog {
    Q_OBJECT
public:
    explicit TCoordTransferForm(QWidget* owner = nullptr);
    QLineEdit *OriginXEdit, *OriginYEdit, *OriginZEdit;
    // Unless modalResult is mrCancel: parses the three, then writes them.
    void FormClose(int modalResult);
    int Execute();
};

// "Lens Parameters": the focal lengths of the projecting and viewing lenses.
class TLensParametersForm : public QDialog {
    Q_OBJECT
public:
    explicit TLensParametersForm(QWidget* owner = nullptr);
    QLineEdit *ProjectingLensfEdit, *ViewingLensfEdit;
    // Only with mrOk: parses both, then writes them.
    void FormClose(int modalResult);
    int Execute();
};
