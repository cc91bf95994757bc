// The program's entry: the application object titled "Vistrel 2.0", the forms made at
// start-up, the message loop. Settings are kept in the per-user settings file; the imaging
// library and the stage are the simulated bench.

#include "Forms.h"
#include "Main.h"

#include <QScreen>

#include <exception>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    try {
        app.SetTitle("Vistrel 2.0");
        CreateStartupForms();
        // The restored size fills the screen too, for window systems that do not maximise.
        if (const QScreen* screen = MainForm->screen())
            MainForm->setGeometry(screen->availableGeometry());
        MainForm->showMaximized();
        app.exec();
    } catch (const std::exception& e) {
        app.ShowException(e);
    }
    app.DestroyForms();
    return 0;
}
