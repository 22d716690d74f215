#include "HelperAppDelegate.h"

#include "DistributedNotificationCenter.h"
#include "Log.h"
#include "Preferences_Mac.h"
#include "PropertyList.h"
#include "ScreensnapManager.h"
#include "SharedHelperCommunication.h"
#include "StatusMenu.h"
#include "tray/ModifierState.h"
#include "tray/NSStatusBar.h"

#include "UserDefaults.h"
#include "Workspace.h"
#include <QMenu>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

#include <chrono>
#include <malloc.h>

using glimra::Bundle;

HelperAppDelegate::HelperAppDelegate(QObject* parent)
    : QObject(parent), modifierState_(std::make_shared<glimra::ModifierState>()) {
    StatusMenu status = buildStatusMenu(*this);
    statusMenu = std::move(status.menu);
    versionMenuItem = status.versionMenuItem;
    hotKeyStatusItem = status.hotKeyStatusItem;
    quietTimer_.setSingleShot(true);
    quietTimer_.setInterval(std::chrono::minutes(1));
    connect(&quietTimer_, &QTimer::timeout, this, &HelperAppDelegate::releaseIdleBuffers);
}

HelperAppDelegate::~HelperAppDelegate() = default; // where the menu and tray types are complete

void HelperAppDelegate::initialize() {
    const QString path =
        Bundle::mainBundle().pathForResource(QStringLiteral("HelperUserDefaults"), QStringLiteral("plist"));
    // A missing or unreadable resource registers nothing: settings then read as false or 0.
    if (path.isEmpty())
        return;
    if (auto defaults = glimra::readPropertyListDictionary(path))
        glimra::UserDefaults::standardUserDefaults().registerDefaults(*defaults);
}

void HelperAppDelegate::applicationWillFinishLaunching() {
    // Made here, on the main thread, before any XPC message could be the first to ask for it: its
    // crosshair capture owns windows and timers, which belong to the main thread.
    ScreensnapManager::sharedManager();
}

void HelperAppDelegate::applicationDidFinishLaunching() {
    // Everything the helper does goes over the session bus; without one it cannot even tell whether
    // another helper runs.
    glimra::Workspace& workspace = glimra::Workspace::sharedWorkspace();
    QString busError;
    if (!workspace.isConnected(&busError)) {
        NSLog("No session bus to join (%@); Glimra Helper cannot run without one and quits.", busError);
        QCoreApplication::exit(1);
        return;
    }

    const bool startAtLogin = glimra::UserDefaults::standardUserDefaults().boolForKey(
        QString::fromLatin1(kStartHelperAtLoginPrefsKey));
    const bool stays = isMainAppRunning() || startAtLogin;
    // Started by the session bus: the call it started the helper for may be one of the desktop's
    // actions, which the helper serves even when nothing else keeps it.
    const bool startedByBus = qEnvironmentVariableIsSet("DBUS_STARTER_BUS_TYPE");

    // One helper per session: the listener holds the bus name that is the service name, and only
    // one process can hold it. A helper that will stay claims it before saying anything, so a second
    // one only says that it quits; one that quits at once never offers the service.
    if ((stays || startedByBus) && !claimServiceName()) {
        NSLog("Another Glimra Helper already runs in this session; this one quits.");
        terminate();
        return;
    }

    NSLog("Finished launching %@ at path %@", bundleDisplayNameAndVersion(),
          Bundle::mainBundle().bundlePath());
    if (stays)
        beginServing();
    else if (startedByBus)
        awaitActivation();
    else
        terminate();
}

void HelperAppDelegate::beginServing() {
    startXPCListener();

    QString bookmarkError;
    bundleURLBookmarkData = glimra::BundleBookmark::bookmarkOfMainBundle(&bookmarkError);
    if (!bundleURLBookmarkData)
        NSLog("Error creating bookmark of bundle URL: %@", bookmarkError);

    glimra::DistributedNotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(kHelperAppTerminateNotification),
        [weak = weak_from_this()](const QString&, const QString&) {
            if (auto self = weak.lock())
                self->terminateHelperApplication();
        });

    connect(&glimra::Workspace::sharedWorkspace(), &glimra::Workspace::applicationDidTerminate, this,
            &HelperAppDelegate::didTerminateApplication);

    showStatusItem();
    installHotKeys();

    // Ready the grab buffers once start-up is over, so the first capture is as fast as later ones
    // (about 120 ms instead of 400 ms for a 4K screen).
    QTimer::singleShot(1000, this, [this] {
        ScreensnapManager::sharedManager().warmUp();
        releaseBuffersWhenQuiet();
    });
}

namespace {
// The bus hands the call it started the helper for over as soon as the name is owned: it is read
// within milliseconds, and this leaves room for a loaded machine.
constexpr int kActivationWaitMs = 2000;
// How often a helper serving an action looks whether it still has something to do.
constexpr int kServingCheckMs = 250;
// How long a main application asked to start may take to appear on the bus.
constexpr qint64 kMainAppLaunchWaitMs = 30000;

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

void HelperAppDelegate::awaitActivation() {
    activation_ = Activation::Awaited;
    // Calls of the listener wait unanswered meanwhile, and fail as the helper goes.
    QTimer::singleShot(kActivationWaitMs, this, [this] {
        if (activation_ != Activation::Awaited)
            return;
        NSLog("Started by the session bus, but the main application does not run and the helper is "
              "not set to start at login; it quits without serving the call.");
        terminate();
    });
}

void HelperAppDelegate::actionArrived(const std::string& name) {
    if (activation_ == Activation::Awaited) {
        activation_ = Activation::Serving;
        beginServing();
        activationTimer_.setInterval(kServingCheckMs);
        connect(&activationTimer_, &QTimer::timeout, this, &HelperAppDelegate::quitUnlessServing);
        activationTimer_.start();
    }
    activateAction(name);
}

void HelperAppDelegate::quitUnlessServing() {
    const bool stays = isMainAppRunning() || glimra::UserDefaults::standardUserDefaults().boolForKey(
                                                 QString::fromLatin1(kStartHelperAtLoginPrefsKey));
    if (stays) {
        // From here on the helper follows the main application, as any helper that stays.
        activation_ = Activation::None;
        activationTimer_.stop();
        return;
    }
    bool held = false;
    {
        std::lock_guard lock(peerMutex_);
        held = _xpc_screen_snap_message != nullptr;
    }
    const qint64 askedAt = mainAppLaunchAskedAt_.load();
    const bool launching = askedAt >= 0 && steadyMs() - askedAt < kMainAppLaunchWaitMs;
    if (ScreensnapManager::sharedManager().isSnapping() || held || launching)
        return;
    NSLog("The action is served; the main application does not run and the helper is not set to start "
          "at login, so it quits.");
    activationTimer_.stop();
    terminate();
}

void HelperAppDelegate::noteMainAppLaunchAsked() {
    mainAppLaunchAskedAt_.store(steadyMs());
}

void HelperAppDelegate::releaseBuffersWhenQuiet() {
    quietTimer_.start();
}

void HelperAppDelegate::rewarmBuffers() {
    // The quiet timer runs exactly while the buffers are warm.
    if (quietTimer_.isActive() || ScreensnapManager::sharedManager().isSnapping())
        return;
    ScreensnapManager::sharedManager().warmUp();
    releaseBuffersWhenQuiet();
}

void HelperAppDelegate::releaseIdleBuffers() {
    ScreensnapManager& manager = ScreensnapManager::sharedManager();
    if (manager.isSnapping()) {
        quietTimer_.start();
        return;
    }
    // The next capture reads its screen plainly (about 5 ms more at 1920x1080, 20 ms at 4K) and readies
    // the segment again behind it.
    manager.releaseBuffers();
    pngEncoder_.releaseBuffers();
    malloc_trim(0); // hand the freed heap back to the system, not only to malloc
}

void HelperAppDelegate::applicationWillTerminate() {
    hideStatusItem();
    // The goodbye, on the bus before the name leaves it: a round trip with the bus behind the signal
    // makes sure it went out.
    glimra::DistributedNotificationCenter::defaultCenter().postNotificationName(
        QString::fromLatin1(kXPCHelperAppWillTerminateNotification));
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                       QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
        QDBus::Block, 500);
}

void HelperAppDelegate::didTerminateApplication(const QString& bundleIdentifier) {
    if (bundleIdentifier == mainAppBundleIdentifier() && !_keepHelperRunning.load())
        terminate();
}

void HelperAppDelegate::terminateHelperApplication() {
    terminate();
}

QString HelperAppDelegate::bundleDisplayNameAndVersion() const {
    const Bundle& bundle = Bundle::mainBundle();
    const QString name = bundle.localizedString(QT_TRANSLATE_NOOP("Localizable", "Glimra Helper"));
    const QString build = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion")).toString();
    const QString shortVersion =
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString();
    return bundle.localizedStringWithFormat(QT_TRANSLATE_NOOP("Localizable", "%@ version %@ (%@)"), name,
                                            shortVersion, build);
}

void HelperAppDelegate::terminate() {
    QCoreApplication::quit();
}

QString HelperAppDelegate::currentBundlePath() const {
    if (bundleURLBookmarkData)
        if (auto path = bundleURLBookmarkData->resolve())
            return *path;
    return Bundle::mainBundle().bundlePath();
}
