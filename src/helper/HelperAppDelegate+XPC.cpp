// The XPC listener with its one peer, the replies, and screenshot delivery.

#include "DistributedNotificationCenter.h"
#include "HelperAppDelegate.h"
#include "Log.h"
#include "Preferences_Mac.h"
#include "ScreenshotMessage.h"
#include "ScreensnapManager.h"
#include "SharedHelperCommunication.h"
#include "UserDefaults.h"
#include "xpc/XpcApplication.h"

#include <QCoreApplication>

#include <cmath>

using namespace xpc;
using dispatch::dispatch_async;
using dispatch::dispatch_get_main_queue;

void HelperAppDelegate::routeXPCEvent(const xpc_object_t& event, const xpc_connection_t& peer) {
    switch (xpc_get_type(event)) {
    case xpc_type_t::Connection:
        processXPCConnection(event);
        break;
    case xpc_type_t::Dictionary:
        processXPCMessage(event);
        break;
    case xpc_type_t::Error:
        processXPCError(event);
        // A peer that reports any error is done; the listener's own errors change nothing.
        if (peer)
            removePeerConnection(peer);
        break;
    default:
        break;
    }
}

bool HelperAppDelegate::claimServiceName() {
    // Served from the moment the name is owned: the call the bus started the helper for finds them.
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    const QString identifier = glimra::Bundle::mainBundle().bundleIdentifier();
    xpc_listener_set_application_actions({QString(u'/' + identifier).replace(u'.', u'/').toStdString(),
                                          actionNames(),
                                          dispatch_get_main_queue(),
                                          [weak](const std::string& name) {
                                              if (auto self = weak.lock())
                                                  self->actionArrived(name);
                                          },
                                          {}});
    const std::string name = identifier.toStdString();
    _xpc_connection = xpc_connection_create_mach_service(name.c_str(), dispatch_get_main_queue(),
                                                         XPC_CONNECTION_MACH_SERVICE_LISTENER);
    if (!_xpc_connection)
        return false;
    // Only the main application's connections become the peer; scripts and stock tools are served
    // through the listener's handler.
    xpc_listener_set_peer_bus_name(_xpc_connection, mainAppBundleIdentifier().toUtf8().constData());
    // The delegate holds the listener, the listener its handler: a handler that held the delegate
    // strongly would keep both alive for good once the process lets go of the delegate.
    xpc_connection_set_event_handler(_xpc_connection, [weak](xpc_object_t event) {
        if (auto self = weak.lock())
            self->routeXPCEvent(event, nullptr);
    });
    _xpc_dispatch_queue = dispatch::dispatch_queue_create(xpc_connection_get_name(_xpc_connection));
    return true;
}

bool HelperAppDelegate::startXPCListener() {
    if (!_xpc_connection && !claimServiceName())
        return false;
    // Readiness is announced only once the listener runs.
    dispatch_async(_xpc_dispatch_queue, [listener = _xpc_connection] {
        xpc_connection_resume(listener);
        dispatch_async(dispatch_get_main_queue(), [] {
            glimra::DistributedNotificationCenter::defaultCenter().postNotificationName(
                QString::fromLatin1(kXPCHelperAppIsReadyNotification));
        });
    });
    return true;
}

void HelperAppDelegate::processXPCConnection(const xpc_connection_t& connection) {
    if (!addPeerConnection(connection)) {
        NSLog("this is not a new peer: %p", static_cast<const void*>(connection.get()));
        return;
    }
    // Held weakly for the same reason as the listener's handler: the delegate holds its peer.
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    std::weak_ptr<Object> weakConnection = connection;
    xpc_connection_set_event_handler(connection, [weak, weakConnection](xpc_object_t event) {
        if (auto self = weak.lock())
            self->routeXPCEvent(event, weakConnection.lock());
    });
    xpc_connection_resume(connection);

    bool held = false;
    {
        std::lock_guard lock(peerMutex_);
        held = _xpc_screen_snap_message != nullptr;
    }
    if (held) {
        dispatch_async(_xpc_dispatch_queue, [weak] {
            auto delegate = weak.lock();
            if (!delegate)
                return;
            xpc_object_t message;
            xpc_connection_t peer;
            {
                // Taken and cleared together, so the held screenshot goes out exactly once.
                std::lock_guard lock(delegate->peerMutex_);
                peer = delegate->_peer_xpc_connection;
                if (peer)
                    message = std::exchange(delegate->_xpc_screen_snap_message, nullptr);
            }
            if (peer && message)
                xpc_connection_send_message(peer, message);
        });
    }
}

bool HelperAppDelegate::addPeerConnection(const xpc_connection_t& connection) {
    std::lock_guard lock(peerMutex_);
    if (_peer_xpc_connection == connection)
        return false;
    // The older peer is let go, not cancelled: the main application may still use it.
    _peer_xpc_connection = connection;
    return true;
}

bool HelperAppDelegate::removePeerConnection(const xpc_connection_t& connection) {
    std::lock_guard lock(peerMutex_);
    if (_peer_xpc_connection != connection)
        return false;
    _peer_xpc_connection = nullptr;
    return true;
}

xpc_connection_t HelperAppDelegate::peerConnection() const {
    std::lock_guard lock(peerMutex_);
    return _peer_xpc_connection;
}

void HelperAppDelegate::processXPCMessage(const xpc_object_t& message) {
    const uint64_t kind = xpc_dictionary_get_uint64(message, kXPCMessageIdentifierKey);
    auto& defaults = glimra::UserDefaults::standardUserDefaults();
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    auto onMain = [weak](void (HelperAppDelegate::*command)()) {
        dispatch_async(dispatch_get_main_queue(), [weak, command] {
            if (auto self = weak.lock())
                ((*self).*command)();
        });
    };
    switch (kind) {
    case kXPCMessageSetKeepHelperRunning:
        _keepHelperRunning.store(xpc_dictionary_get_bool(message, kXPCBooleanKey));
        break;
    case kXPCMessageSetStartHelperAtLogin:
        defaults.setBool(xpc_dictionary_get_bool(message, kXPCBooleanKey),
                         QString::fromLatin1(kStartHelperAtLoginPrefsKey));
        break;
    case kXPCMessageSetTimedSnapDelay: {
        int64_t delay = xpc_dictionary_get_int64(message, kXPCInt64Key);
        if (delay == 0) {
            // Rounded half away from zero; out-of-range doubles (and NaN) clamp rather than overflow.
            const double seconds = std::round(xpc_dictionary_get_double(message, kXPCDoubleKey));
            if (std::isnan(seconds))
                delay = 0;
            else if (seconds >= 9.2e18)
                delay = INT64_MAX;
            else if (seconds <= -9.2e18)
                delay = INT64_MIN;
            else
                delay = int64_t(seconds);
        }
        defaults.setInteger(delay, QString::fromLatin1(kTimedScreenSnapDelaySecondsPrefsKey));
        break;
    }
    case kXPCMessageCrosshairSnapshot:
        onMain(xpc_dictionary_get_bool(message, kXPCIsTimedKey) ? &HelperAppDelegate::timedSnapshot
                                                                : &HelperAppDelegate::crosshairSnapshot);
        break;
    case kXPCMessagePreviousAreaSnapshot:
        onMain(&HelperAppDelegate::previousCrosshairSnapshot);
        break;
    case kXPCMessageFullscreenSnapshot:
        onMain(&HelperAppDelegate::fullscreenSnapshot);
        break;
    case kXPCMessageAllScreenSnapshot:
        onMain(&HelperAppDelegate::allScreenSnapshot);
        break;
    case kXPCMessageTerminateHelper:
        onMain(&HelperAppDelegate::terminate);
        break;
    case kXPCMessageGetHelperVersion:
    case kXPCMessageCanSnapPreviousArea:
        replyToMessage(message);
        break;
    default:
        // 0, 1, values above 15, and the kinds the helper sends itself.
        break;
    }
}

void HelperAppDelegate::replyToMessage(const xpc_object_t& message) {
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    dispatch_async(_xpc_dispatch_queue, [weak, message] {
        auto self = weak.lock();
        if (!self)
            return;
        const xpc_connection_t remote = xpc_dictionary_get_remote_connection(message);
        if (!remote) {
            NSLog("xpc_dictionary_get_remote_connection() returned nil.  We're fixin' to crash.");
            return;
        }
        // Sent without a reply expected: nobody waits for an answer.
        xpc_object_t reply = xpc_dictionary_create_reply(message);
        if (!reply)
            return;
        if (xpc_dictionary_get_uint64(message, kXPCMessageIdentifierKey) == kXPCMessageGetHelperVersion) {
            const auto& bundle = glimra::Bundle::mainBundle();
            xpc_dictionary_set_string(reply, kXPCBundleVersionKey,
                                      bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion"))
                                          .toString()
                                          .toStdString());
            xpc_dictionary_set_string(
                reply, kXPCBundleShortVersionKey,
                bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                    .toString()
                    .toStdString());
            xpc_dictionary_set_string(reply, kXPCBundlePathKey, self->currentBundlePath().toStdString());
        } else {
            xpc_dictionary_set_bool(reply, kXPCBooleanKey,
                                    ScreensnapManager::sharedManager().canSnapPreviousArea());
        }
        xpc_connection_send_message(remote, reply);
    });
}

void HelperAppDelegate::processXPCError(const xpc_object_t& error) {
    if (error == XPC_ERROR_CONNECTION_INVALID)
        NSLog("XPC_ERROR_CONNECTION_INVALID");
    else if (error == XPC_ERROR_CONNECTION_INTERRUPTED)
        NSLog("XPC_ERROR_CONNECTION_INTERRUPTED");
    else if (error == XPC_ERROR_TERMINATION_IMMINENT)
        NSLog("XPC_ERROR_TERMINATION_IMMINENT");
    else
        NSLog("unknown error: %s", xpc_copy_description(error));
}

void HelperAppDelegate::sendToPeer(xpc_object_t message) {
    if (!_xpc_dispatch_queue)
        return;
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    dispatch_async(_xpc_dispatch_queue, [weak, message = std::move(message)] {
        auto self = weak.lock();
        if (!self)
            return;
        if (auto peer = self->peerConnection())
            xpc_connection_send_message(peer, message);
    });
}

bool HelperAppDelegate::sendScreenshot(const QImage& image, uint64_t width, uint64_t height,
                                       const std::optional<QString>& docTitle) {
    QByteArray png;
    const bool encoded = pngEncoder_.encode(image, png);
    releaseBuffersWhenQuiet();
    if (!encoded)
        return false;
    xpc_object_t message = makeScreenshotMessage(std::move(png), width, height, docTitle);

    if (isMainAppRunning()) {
        // No retry: a main application that runs but has not connected misses this screenshot.
        sendToPeer(std::move(message));
        return true;
    }
    {
        // Only the newest screenshot waits for the main application.
        std::lock_guard lock(peerMutex_);
        _xpc_screen_snap_message = std::move(message);
    }
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    dispatch_async(_xpc_dispatch_queue, [weak] {
        if (auto self = weak.lock())
            self->launchMainApp();
    });
    return true;
}

void HelperAppDelegate::flushOutgoingMessages() {
    if (!_xpc_dispatch_queue)
        return;
    // Once the private queue has handed its messages to the bus thread, that thread sends them
    // before it stops with the application object.
    dispatch::dispatch_sync(_xpc_dispatch_queue, [] {});
}
