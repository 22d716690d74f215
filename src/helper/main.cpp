#include "HelperAppDelegate.h"
#include "UnixSignals.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("GlimraHelper"));
    QApplication::setQuitOnLastWindowClosed(false);
    glimra::quitApplicationOnTerminationSignals();

    HelperAppDelegate::initialize();
    HelperAppDelegate delegate;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &HelperAppDelegate::applicationWillTerminate);
    delegate.applicationWillFinishLaunching();
    QTimer::singleShot(0, &delegate, &HelperAppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
