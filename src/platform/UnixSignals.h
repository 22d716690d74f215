#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the Qt event loop, so a helper stopped by
// its session or by kill still runs its termination (the tray icon is removed, not left behind).

namespace glimra {
void quitApplicationOnTerminationSignals();
} // namespace glimra
