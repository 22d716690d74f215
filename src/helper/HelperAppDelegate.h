#pragma once
// The helper's one application object. Its operations live in files by concern:
//   HelperAppDelegate.cpp             start-up, settings, quitting
//   HelperAppDelegate+XPC.cpp         the listener, the peer, replies, screenshot delivery
//   HelperAppDelegate+Launching.cpp   finding, starting, showing and ending the main application
//   HelperAppDelegate+Capture.cpp     the capture commands
//   HelperAppDelegate+StatusItem.cpp  the tray item and its menu
//   HelperAppDelegate+HotKeys.cpp     the global hot keys, the desktop's actions that mirror them, and
//                                     the Escape key of a region capture
//
// It is always owned by one std::shared_ptr, the process's: the XPC handlers, capture blocks and work
// queued for later hold it weakly and skip themselves when it is gone, so nothing it owns keeps it.

#include "Bundle.h"
#include "ScreensnapCompletionBlock.h"
#include "dispatch/Dispatch.h"
#include "hotkeys/CarbonEvents.h"
#include "hotkeys/EscapeKey.h"
#include "hotkeys/HotKeyNames.h"
#include "png/PngEncoder.h"
#include "xpc/Xpc.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class ScreensnapManager;
namespace glimra {
class ModifierState;
class NSStatusItem;
} // namespace glimra

class HelperAppDelegate : public QObject, public std::enable_shared_from_this<HelperAppDelegate> {
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
    QString mainAppBundleURL() const;
    void launchMainApp();
    void showGlimraAppByLaunching(bool launch, bool bringToFront);
    void terminateGlimraAndHelperApp();
    bool isHelperAppLoginItemEnabled() const;

    // The XPC link.
    // Claims the service name, with the desktop's actions served beside the listener, without serving
    // the listener yet; false when it could not be claimed.
    bool claimServiceName();
    // Claims the name unless done, and serves the listener; false when the name could not be claimed.
    bool startXPCListener();
    void processXPCConnection(const xpc::xpc_connection_t& connection);
    void processXPCMessage(const xpc::xpc_object_t& message);
    void processXPCError(const xpc::xpc_object_t& error);
    bool addPeerConnection(const xpc::xpc_connection_t& connection);
    bool removePeerConnection(const xpc::xpc_connection_t& connection);

    // Screenshot delivery: false when the image cannot be encoded (nothing is sent or started).
    bool sendScreenshot(const QImage& image, uint64_t width, uint64_t height,
                        const std::optional<QString>& docTitle);

    // Capture commands.
    void crosshairSnapshot();
    void timedSnapshot();
    void crosshairSnapshotAsTimed(bool timed);
    void previousCrosshairSnapshot();
    void fullscreenSnapshot();
    void allScreenSnapshot();

    // The status item and its menu.
    void showStatusItem();
    void hideStatusItem();
    void menuWillOpen(QMenu* menu);
    // Shows or hides the items Alt reveals, as the menu opens and while it is open.
    void showOptionKeyItems(QMenu* menu, bool option);
    bool validateMenuItem(const QAction* item) const;
    void showGlimra();
    QMenu* menu() const { return statusMenu.get(); }
    QAction* versionItem() const { return versionMenuItem; }
    glimra::NSStatusItem* currentStatusItem() const { return statusItem.get(); }
    void setModifierStateForTesting(std::unique_ptr<glimra::ModifierState> state);

    // The global hot keys.
    void installHotKeys();
    // Shows each hot key beside its menu item, named as the keyboard layout in use shows it.
    void nameHotKeysInMenu();
    // What hot key id (1 to 5) does, whoever asks: the hot keys and the desktop's actions.
    void performHotKeyCommand(carbon::UInt32 id);
    // The desktop's names of the hot keys' commands ("capture-region", ...), in the hot keys' order.
    static std::vector<std::string> actionNames();
    // The command of a hot key by its action name; an unknown name does nothing.
    void activateAction(const std::string& name);
    // The hot keys' commands with their combinations, in the hot keys' order: for desktops that bind
    // the commands themselves (GNOME's custom shortcuts).
    static std::vector<glimra::hotkeys::HotKeyCommand> hotKeyCommands();
    // Readies the grab buffers again when a quiet minute let them go (a capture hot key was pressed).
    void rewarmBuffers();

    // Sends what the private queue still holds; called once the event loop has ended.
    void flushOutgoingMessages();

    bool keepHelperRunning() const { return _keepHelperRunning.load(); }
    // The bundle's path now: where the bookmark resolves, else the path at start.
    QString currentBundlePath() const;

private:
    using Perform = std::function<void(ScreensnapManager&, ScreensnapCompletionBlock)>;
    // A capture command accepted and not started yet: its block waits here while the main application
    // is asked, until the capture starts with it or the command ends without one.
    struct AcceptedCapture {
        Perform perform;
        ScreensnapCompletionBlock block;
    };

    // Ends the process through the event loop, so applicationWillTerminate runs.
    void terminate();
    // Everything a helper that stays does once it has its name: the listener, observers, tray, hot keys.
    void beginServing();
    // A helper the bus started although it has no reason to stay: an action call that comes with the
    // start is served, then the stay-or-quit rule applies again.
    void awaitActivation();
    void actionArrived(const std::string& name);
    void quitUnlessServing();
    void noteMainAppLaunchAsked();
    // One event of the listener (peer null) or of a peer connection, to its handler.
    void routeXPCEvent(const xpc::xpc_object_t& event, const xpc::xpc_connection_t& peer);
    // The capture is in progress from here until its block has run, or the main application refused
    // it or could not be asked; an interactive one is cancelled by Escape wherever the keyboard is.
    void startCapture(const Perform& perform, ScreensnapCompletionBlock block, bool interactive);
    void performAcceptedCapture(AcceptedCapture& capture);
    // The command ends without a capture: nothing runs any more.
    void dropAcceptedCapture(AcceptedCapture& capture);
    void cancelCaptureByEscape();
    void grabEscapeKey(std::shared_ptr<AcceptedCapture> capture);
    void releaseEscapeKey();
    ScreensnapCompletionBlock completionBlock(bool fullScreen);
    // Queues message for the current peer on the private queue; dropped when there is none then.
    void sendToPeer(xpc::xpc_object_t message);
    xpc::xpc_connection_t peerConnection() const;
    void replyToMessage(const xpc::xpc_object_t& message);
    // The grab segment and the encoder's buffers stay warm between captures and go after a quiet
    // minute: an idle helper holds little more than its code.
    void releaseBuffersWhenQuiet();
    void releaseIdleBuffers();

    // Written by XPC delivery, read on the main thread.
    std::atomic<bool> _keepHelperRunning{false};
    std::optional<glimra::BundleBookmark> bundleURLBookmarkData;

    dispatch::QueuePtr _xpc_dispatch_queue;
    xpc::xpc_connection_t _xpc_connection;
    // The peer and the held-back screenshot are shared by the main thread, the XPC delivery queue and
    // the private queue: peerMutex_ guards both.
    mutable std::mutex peerMutex_;
    xpc::xpc_connection_t _peer_xpc_connection;
    xpc::xpc_object_t _xpc_screen_snap_message;

    glimra::png::PngEncoder pngEncoder_;
    QTimer quietTimer_;

    // The menu and its outlets, made with the delegate as a nib would make them.
    std::unique_ptr<QMenu> statusMenu;
    QAction* versionMenuItem = nullptr;
    QAction* hotKeyStatusItem = nullptr;
    std::unique_ptr<glimra::NSStatusItem> statusItem;
    // Shared with the status item, which reads it while the menu is open.
    std::shared_ptr<glimra::ModifierState> modifierState_;
    int registeredHotKeys_ = 0;
    enum class Activation { None, Awaited, Serving } activation_ = Activation::None;
    QTimer activationTimer_;
    // When the main application was last asked to start (steady clock, ms); written on any thread.
    std::atomic<qint64> mainAppLaunchAskedAt_{-1};
    std::unique_ptr<glimra::EscapeKey> escapeKey_;
    // The interactive capture Escape cancels, from its command's acceptance until it ends.
    std::shared_ptr<AcceptedCapture> escapeCancels_;
};
