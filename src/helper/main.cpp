#include "Bundle.h"
#include "HelperAppDelegate.h"
#include "UnixSignals.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("GlimraHelper"));
    QApplication::setQuitOnLastWindowClosed(false);
    glimra::quitApplicationOnTerminationSignals();
    glimra::Bundle::mainBundle().loadLocalizations(app);

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
