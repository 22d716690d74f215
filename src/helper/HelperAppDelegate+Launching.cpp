// Finding, starting, showing and ending the main application, and the login item's state.

#include "HelperAppDelegate.h"
#include "Log.h"
#include "LoginItems.h"
#include "SharedHelperCommunication.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

using namespace xpc;

QString HelperAppDelegate::mainAppBundleIdentifier() {
    return QStringLiteral("app.glimra.Glimra");
}

bool HelperAppDelegate::isMainAppRunning() const {
    return glimra::Workspace::sharedWorkspace().isApplicationRunning(mainAppBundleIdentifier());
}

QString HelperAppDelegate::mainAppBundleURL() const {
    // GlimraHelper.app, LoginItems, Library, Contents: four folders up is the main bundle.
    QString path = QDir::cleanPath(currentBundlePath());
    for (int i = 0; i < 4; ++i)
        path = QFileInfo(path).path();
    return path;
}

void HelperAppDelegate::launchMainApp() {
    if (isMainAppRunning())
        return;
    noteMainAppLaunchAsked();
    const QString url = QString::fromLatin1(kMainAppCustomURLSchemeString);
    // The URL tool may take seconds; this runs on the main thread from the menu and the hot keys, so
    // its result is taken when it reports rather than waited for.
    glimra::Workspace::sharedWorkspace().openURL(
        QUrl(url), [url, bundlePath = mainAppBundleURL()](bool opened, const QString&) {
            if (opened)
                return;
            NSLog("Failed to launch main app with URL %@", url);
            QString error;
            if (!glimra::Workspace::sharedWorkspace().launchApplicationAtURL(bundlePath, &error))
                NSLog("launch main app error %@", error);
        });
}

void HelperAppDelegate::showGlimraAppByLaunching(bool launch, bool bringToFront) {
    if (isMainAppRunning()) {
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageShowMainApp);
        xpc_dictionary_set_bool(message, kXPCBooleanKey, bringToFront);
        sendToPeer(std::move(message));
    } else if (launch) {
        launchMainApp();
    }
}

void HelperAppDelegate::terminateGlimraAndHelperApp() {
    if (isMainAppRunning()) {
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageTerminateMainApp);
        sendToPeer(std::move(message));
    }
    // The private queue still sends what was queued before the process ends (see main).
    terminate();
}

bool HelperAppDelegate::isHelperAppLoginItemEnabled() const {
    // The login job is the XDG autostart entry named by the helper's bundle identifier.
    return glimra::isAutostartEntryEnabled(
        glimra::autostartEntryPath(glimra::Bundle::mainBundle().bundleIdentifier()));
}
