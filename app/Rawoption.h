#pragma once
// The raw-file options dialog: the width and height of a raw image file, with "&Swap"
// (exchange them) and "&Guess" (the most square width and height that the file's size,
// less its header, allows). The image window reads WidthEdit and HeightEdit after OK.

#include <QDialog>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TRawOptionForm : public QDialog {
    Q_OBJECT
public:
    // CreateWithFile: FileName := the file-name part of path; FileSize := the size of the
    // file at path, in bytes. Raises EAppError when the file cannot be opened.
    TRawOptionForm(QWidget* owner, const QString& path);

    QString FileName;      // the name shown (without directory)
    int64_t FileSize = 0;  // bytes

    QLabel* DescribeLabel = nullptr;    // "Describe: \"name\""
    QLabel* SizeLabel = nullptr;        // "( 262144 bytes )"
    QLineEdit* WidthEdit = nullptr;     // "512"
    QLineEdit* HeightEdit = nullptr;    // "512"
    QLineEdit* ChannelCountEdit = nullptr;   // "1"
    QRadioButton* Bits8RadioButton = nullptr;    // "8Bits", checked
    QRadioButton* Bits16RadioButton = nullptr;   // "16Bits", disabled
    QLineEdit* HeaderEdit = nullptr;    // "0"
    QCheckBox* RetainCheckBox = nullptr;   // "Retain When Saving", disabled
    QPushButton* OKButton = nullptr;       // modal result 1
    QPushButton* CancelButton = nullptr;   // modal result 2
    QPushButton* Button3 = nullptr;        // "&Swap"
    QPushButton* Button4 = nullptr;        // "&Guess"

    // "&Swap": the integers of WidthEdit and HeightEdit change places.
    void Button3Click();
    // "&Guess": width and height from the file size less the header. A size without a
    // divisor (a prime, below 4, or a header at least the file's size) leaves both edits.
    void Button4Click();

    // The guess for n bytes: the first divisor d of n in 2..trunc(sqrt(n) + 2) - 1 with
    // the smallest |d - n / d| gives height d and width n / d; false when there is none.
    static bool GuessSize(int64_t n, int64_t& width, int64_t& height);
};
