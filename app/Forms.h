#pragma once
// The application object and the forms made when the program starts.
//
// TApplication is the program's QApplication: it keeps the title, the list of forms
// created through CreateForm (in creation order; they are destroyed in reverse order), and
// shows every exception that escapes a command in a message box, after which the program
// keeps running.
//
// TRadioGroup is the captioned group of exclusive radio buttons the forms use, with an
// item index (-1 when none is chosen).

#include <QApplication>
#include <QGroupBox>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <vector>

class QButtonGroup;
class QComboBox;
class QDialog;
class QGridLayout;
class QRadioButton;

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The title (shown as the caption of ShowMessage boxes and exception boxes).
    void SetTitle(const QString& title);
    QString Title() const;

    // Makes a form of class T (parentless) into ref, and keeps it in Components.
    template <class T>
    void CreateForm(T*& ref)
    {
        ref = new T(nullptr);
        T** where = &ref;
        Adopt(ref, [where] { *where = nullptr; });
    }
    // The forms made by CreateForm, in creation order.
    const std::vector<QWidget*>& Components() const { return components_; }
    // Deletes them, the last made first, and clears their pointers.
    void DestroyForms();

    // Shows the message of an exception that escaped a command.
    void ShowException(const std::exception& e);
    void ShowException(const QString& message);

    // Delivers events; an exception thrown while handling one is shown, not passed on.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    void Adopt(QWidget* form, std::function<void()> clear);

    std::vector<QWidget*> components_;
    std::vector<std::function<void()>> clears_;
};

// The application object (null before it exists and after it is gone).
extern TApplication* Application;

// Runs f; an exception it throws is shown by the application object.
void RunGuarded(const std::function<void()>& f);

// The sixteen forms the program makes when it starts, in this order: TMainForm,
// TControlLumbraForm, TControlPIForm, TControlDrevanForm, TPleaseWaitForm,
// TQuickStartNewTypeForm, TControlHalcyraForm, TControlSorvikForm, TControlSorvik2Form,
// TShowDataForm, TShow3DForm, TShowProfileForm, TShow2DForm, TCalibrateAngleForm,
// TAutoAdjustForm, TModifyImageForm; each into its global pointer.
void CreateStartupForms();

class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const;
    // -1 (or an index outside the items) chooses none.
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int index) const;

private:
    QButtonGroup* group_;
    std::vector<QRadioButton*> buttons_;
};

