#include "Modifyimage.h"

#include "Format.h"
#include "Forms.h"
#include "Main.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

TModifyImageForm* ModifyImageForm = nullptr;

TModifyImageForm::TModifyImageForm(QWidget* owner) : QDialog(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Modify Image");
    auto* layout = new QVBoxLayout(this);
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName("ToolBar1");
    layout->addWidget(ToolBar1);
    auto tool = [this](const char* name, const char* text, const QString& hint) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setText(text);
        b->setToolTip(hint);
        b->setCheckable(true);
        b->setAutoRaise(true);
        ToolBar1->addWidget(b);
        return b;
    };
    RectToolButton = tool("RectToolButton", "Rect", QString::fromUtf8("选择矩形区域Select Rectangle"));
    CircleToolButton = tool("CircleToolButton", "Circle", QString::fromUtf8("选择圆形区域Select Circle"));
    ToolBar1->addSeparator();
    WhiteToolButton = tool("WhiteToolButton", "White", QString::fromUtf8("填充白色Fill White"));
    BlackToolButton = tool("BlackToolButton", "Black", QString::fromUtf8("填充黑色Fill Black"));
    auto* shapes = new QButtonGroup(this);
    shapes->addButton(RectToolButton);
    shapes->addButton(CircleToolButton);
    auto* colours = new QButtonGroup(this);
    colours->addButton(WhiteToolButton);
    colours->addButton(BlackToolButton);
    RectToolButton->setChecked(true);
    WhiteToolButton->setChecked(true);

    auto* grid = new QGridLayout();
    UpCornerLabel = new QLabel("(0, 0)", this);
    DownCornerLabel = new QLabel("(0, 0)", this);
    WidthLabel = new QLabel("Width =", this);
    HeightLabel = new QLabel("Height=", this);
    grid->addWidget(UpCornerLabel, 0, 0);
    grid->addWidget(DownCornerLabel, 0, 1);
    grid->addWidget(WidthLabel, 1, 0);
    grid->addWidget(HeightLabel, 1, 1);
    layout->addLayout(grid);
    BitBtn1 = new QPushButton("Fill", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setAutoDefault(false);
    layout->addWidget(BitBtn1);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn1Click(); }); });

    SetSelectionTool(this);
}

TModifyImageForm::~TModifyImageForm()
{
    if (SelectionTool() == this)
        SetSelectionTool(nullptr);
    if (ModifyImageForm == this)
        ModifyImageForm = nullptr;
}

void TModifyImageForm::ShowSelection(int x0, int y0, int x1, int y1)
{
    UpCornerLabel->setText(QFormat("(%3d, %3d)", x0, y0));
    DownCornerLabel->setText(QFormat("(%3d, %3d)", x1, y1));
    WidthLabel->setText(QFormat("Width =%3d", x1 - x0));
    HeightLabel->setText(QFormat("Height=%3d", y1 - y0));
}

bool TModifyImageForm::SelectsRectangle() const
{
    return RectToolButton->isChecked();
}

void TModifyImageForm::BitBtn1Click()
{
    const uint8_t value = WhiteToolButton->isChecked() ? 255 : 0;
    const bool ellipse = !RectToolButton->isChecked();
    if (!MainForm)
        return;
    if (TMDIImageChildForm* w = MainForm->ActiveImageWindow()) {
        w->FillSelection(value, ellipse);
        w->Repaint();
    }
}
