// Makes the application's hot-key center, chosen for the session as the helper's is, which says which
// road the hot keys take, and quits.

#include "hotkeys/HotKeyCenter.h"

#include <QGuiApplication>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    carbon::HotKeyCenter::application();
    return 0;
}
