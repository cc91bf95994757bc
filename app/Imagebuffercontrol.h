#pragma once
// The image-buffer dialog: size, depth, sign and attributes of a new image buffer. Every
// image-window factory of the main window shows it (or takes its defaults without
// showing it) and reads the edits as integers.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TImageBufferControlForm : public QDialog {
    Q_OBJECT
public:
    explicit TImageBufferControlForm(QWidget* owner = nullptr);

    QLineEdit* SizeXEdit = nullptr;      // "768"
    QLineEdit* SizeYEdit = nullptr;      // "576"
    QLineEdit* SizeBitEdit = nullptr;    // "8"
    QLineEdit* SizeBandEdit = nullptr;   // "1"
    QRadioButton* UnsignedRadioButton = nullptr;   // checked
    QRadioButton* SignedRadioButton = nullptr;
    QCheckBox* ProcCheckBox = nullptr;   // attribute 16, checked
    QCheckBox* GrabCheckBox = nullptr;   // attribute 8, enabled and checked with a digitizer
    QCheckBox* DispCheckBox = nullptr;   // attribute 32, checked
    QPushButton* OKButton = nullptr;     // modal result 1 (OKButtonClick), the default button
    QPushButton* CancelButton = nullptr; // modal result 2

    // The values as the factories read them; the edits as integers (EAppError for text
    // that is not one).
    int SizeX() const;
    int SizeY() const;
    int Bits() const;
    int Bands() const;

    // OK: closes with modal result 1 when every edit holds an integer; otherwise shows the
    // conversion's message once and stays open with the text as typed.
    void OKButtonClick();

private:
    void FormCreate();
};
