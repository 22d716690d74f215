#pragma once
// Keys and the pointer on desktops that take no virtual devices from ordinary clients: KWin through
// its fake input protocol (the test session lets any client bind it), GNOME through Mutter's
// RemoteDesktop D-Bus interface (one session, with a screen cast of the monitor, kept open for the
// object's life).

#include "WaylandKit.h"

namespace glimra::test {

class KWinInput final : public TestInput {
public:
    KWinInput();
    ~KWinInput() override;
    bool ok() const override;
    void key(uint32_t keysym, bool press) override;
    void keyCode(uint32_t evdevCode, bool press) override;
    // Logical coordinates of the layout.
    void motion(int x, int y) override;
    void button(uint8_t number, bool press) override;

private:
    struct Connection;
    std::unique_ptr<Connection> c_;
};

class GnomeInput final : public TestInput {
public:
    // Brings its pointer and keyboard to the seat with a first motion and a press of Shift, which a
    // window that has the keyboard meanwhile may get: make it before such windows show.
    GnomeInput();
    ~GnomeInput() override;
    bool ok() const override { return !session_.isEmpty(); }
    void key(uint32_t keysym, bool press) override;
    void keyCode(uint32_t evdevCode, bool press) override;
    // Logical coordinates of the monitor (the session has one), given to Mutter as places on a screen
    // cast of it that the remote desktop session holds.
    void motion(int x, int y) override;
    void button(uint8_t number, bool press) override;

private:
    bool call(const char* method, const QVariantList& arguments);
    QString session_;
    QString stream_; // the screen cast's stream of the monitor, which places on it are given on
    SessionOutput monitor_;
};

} // namespace glimra::test
