#pragma once
// The helper's one application object: start-up and settings, the ways the process ends, and (in
// the files beside this one) the XPC link, launching the main application, the capture commands,
// the status item and the hot keys.

#include "Bundle.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <optional>

class HelperAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit HelperAppDelegate(QObject* parent = nullptr);
    ~HelperAppDelegate() override;

    // Registers the defaults from the bundle resource "HelperUserDefaults.plist".
    static void initialize();

    // Application lifecycle.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void didTerminateApplication(const QString& bundleIdentifier);
    void terminateHelperApplication();
    QString bundleDisplayNameAndVersion() const;

    // The main application.
    static QString mainAppBundleIdentifier();
    bool isMainAppRunning() const;

    // The XPC link.
    void startXPCListener();

    // The status item.
    void showStatusItem();
    void hideStatusItem();

    // The global hot keys.
    void installHotKeys();

    bool keepHelperRunning() const { return _keepHelperRunning.load(); }

private:
    // Ends the process through the event loop, so applicationWillTerminate runs.
    void terminate();

    // Written by XPC delivery, read on the main thread.
    std::atomic<bool> _keepHelperRunning{false};
    std::optional<glimra::BundleBookmark> bundleURLBookmarkData;
};
