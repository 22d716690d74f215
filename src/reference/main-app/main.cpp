// The reference main application: claims the main application's bus name and stays running.

#include "Bundle.h"
#include "Log.h"
#include "UnixSignals.h"
#include "Workspace.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Glimra"));
    glimra::quitApplicationOnTerminationSignals();

    QString identifier = glimra::Bundle::mainBundle().bundleIdentifier();
    if (identifier.isEmpty())
        identifier = QStringLiteral("app.glimra.Glimra");
    if (!glimra::Workspace::sharedWorkspace().registerApplication(identifier)) {
        NSLog("Glimra already runs in this session.");
        return 0;
    }
    NSLog("Glimra is running as %@", identifier);
    return QCoreApplication::exec();
}
