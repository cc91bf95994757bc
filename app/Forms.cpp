#include "Forms.h"

#include "Autoadjust.h"
#include "Calibrateangle.h"
#include "Controldrevan.h"
#include "Controlhalcyra.h"
#include "Controllumbra.h"
#include "Controlpi.h"
#include "Controlsorvik.h"
#include "Controlsorvik2.h"
#include "Dialogs.h"
#include "Main.h"
#include "Modifyimage.h"
#include "Pleasewait.h"
#include "Quickstartnewtype.h"
#include "Show2d.h"
#include "Show3d.h"
#include "Showdata.h"
#include "Showprofile.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>

TApplication* Application = nullptr;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    Application = this;
}

TApplication::~TApplication()
{
    DestroyForms();
    if (Application == this)
        Application = nullptr;
}

void TApplication::SetTitle(const QString& title)
{
    setApplicationName(title);
    setApplicationDisplayName(title);
}

QString TApplication::Title() const { return applicationDisplayName(); }

void TApplication::Adopt(QWidget* form, std::function<void()> clear)
{
    components_.push_back(form);
    clears_.push_back(std::move(clear));
}

void TApplication::DestroyForms()
{
    while (!components_.empty()) {
        QWidget* form = components_.back();
        std::function<void()> clear = std::move(clears_.back());
        components_.pop_back();
        clears_.pop_back();
        delete form;
        clear();
    }
}

void TApplication::ShowException(const std::exception& e)
{
    ShowException(QString::fromLocal8Bit(e.what()));
}

void TApplication::ShowException(const QString& message)
{
    QString text = message;
    // A message that ends in a letter, digit or closing bracket gets a full stop; one that
    // ends in punctuation such as '!' or a blank is shown as it is.
    if (!text.isEmpty() && text.back().unicode() > '.')
        text += '.';
    MessageBox(text, Title(), MB_OK | MB_ICONERROR);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return true;
}

void RunGuarded(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        if (Application)
            Application->ShowException(e);
        else
            std::fprintf(stderr, "%s\n", e.what());
    }
}

void CreateStartupForms()
{
    Application->CreateForm(MainForm);
    Application->CreateForm(ControlLumbraForm);
    Application->CreateForm(ControlPIForm);
    Application->CreateForm(ControlDrevanForm);
    Application->CreateForm(PleaseWaitForm);
    Application->CreateForm(QuickStartNewTypeForm);
    Application->CreateForm(ControlHalcyraForm);
    Application->CreateForm(ControlSorvikForm);
    Application->CreateForm(ControlSorvik2Form);
    Application->CreateForm(ShowDataForm);
    Application->CreateForm(Show3DForm);
    Application->CreateForm(ShowProfileForm);
    Application->CreateForm(Show2DForm);
    Application->CreateForm(CalibrateAngleForm);
    Application->CreateForm(AutoAdjustForm);
    Application->CreateForm(ModifyImageForm);
}

// ---- TRadioGroup ----------------------------------------------------------------------------

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this))
{
    group_->setExclusive(true);
    auto* grid = new QGridLayout(this);
    const int cols = columns < 1 ? 1 : columns;
    const int rows = (static_cast<int>(items.size()) + cols - 1) / cols;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        buttons_.push_back(b);
        // Filled column by column, as the class library's radio group does.
        grid->addWidget(b, i % rows, i / rows);
    }
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
        return;
    }
    // None chosen: an exclusive group keeps one button, so lift exclusivity for the moment.
    group_->setExclusive(false);
    for (QRadioButton* b : buttons_)
        b->setChecked(false);
    group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Button(int index) const
{
    return index >= 0 && index < Count() ? buttons_[static_cast<size_t>(index)] : nullptr;
}
