#include "Bundle.h"
#include "DesktopLoader.h"
#include "HelperAppDelegate.h"
#include "Log.h"
#include "UnixSignals.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <cstring>

namespace {

// The one option: the shortcuts for a desktop that binds commands, GNOME's, printed for the user to
// run or read, whatever desktop runs now; nothing is changed.
int printGnomeShortcuts(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    glimra::Bundle::mainBundle().loadLocalizations(app);
    QTextStream(stdout) << glimra::gnomeShortcutCommands(HelperAppDelegate::hotKeyCommands(),
                                                         glimra::Bundle::mainBundle().bundleIdentifier());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--print-gnome-shortcuts") == 0)
        return printGnomeShortcuts(argc, argv);
    // Qt's lines (the helper's own categories among them) go where NSLog's go: stderr and the journal.
    glimra::logQtMessages();
    // Qt aborts when it finds no display; a helper the session bus started in a session without one
    // says so and fails the caller's call, as it does without a bus.
    const glimra::DisplayServerChoice display = glimra::chooseDisplayServer();
    if (!display.whyNot.isEmpty()) {
        NSLog("No display to show on (%@); Glimra Helper cannot run without one and quits.", display.whyNot);
        return 1;
    }
    if (!display.note.isEmpty())
        NSLog("%@", display.note);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("GlimraHelper"));
    QApplication::setQuitOnLastWindowClosed(false);
    glimra::quitApplicationOnTerminationSignals();
    glimra::Bundle::mainBundle().loadLocalizations(app);
    // Everything of the display from here on comes from the desktop chosen now, once.
    glimra::Desktop::setCurrent(glimra::loadDesktop(display.server));
    glimra::Desktop& desktop = glimra::Desktop::current();
    NSLog("Desktop: %@ (%@)", desktop.name(), glimra::describeCapabilities(desktop.capabilities()));

    HelperAppDelegate::initialize();
    auto delegate = std::make_shared<HelperAppDelegate>();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, delegate.get(),
                     &HelperAppDelegate::applicationWillTerminate);
    delegate->applicationWillFinishLaunching();
    QTimer::singleShot(0, delegate.get(), &HelperAppDelegate::applicationDidFinishLaunching);
    const int status = QApplication::exec();
    // Messages queued just before quitting (the terminate message of "Quit Glimra and Helper") still
    // leave before the process ends.
    delegate->flushOutgoingMessages();
    return status;
}
