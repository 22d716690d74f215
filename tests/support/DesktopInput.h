#pragma once
// Keys and the pointer on desktops that take no virtual devices from ordinary clients: KWin through
// its fake input protocol (the test session lets any client bind it), GNOME through Mutter's
// RemoteDesktop D-Bus interface (one session kept open for the object's life).

#include "TestInput.h"

#include <QPoint>
#include <QString>

#include <memory>
#include <optional>

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
    GnomeInput();
    ~GnomeInput() override;
    bool ok() const override { return !session_.isEmpty(); }
    void key(uint32_t keysym, bool press) override;
    void keyCode(uint32_t evdevCode, bool press) override;
    // Without a screen cast stream Mutter takes relative motion only: the pointer is pushed into the
    // top-left corner at the first move, then moved by differences, which is exact (virtual pointers
    // have no acceleration).
    void motion(int x, int y) override;
    void button(uint8_t number, bool press) override;

private:
    bool call(const char* method, const QVariantList& arguments);
    QString session_;
    std::optional<QPoint> at_; // where the pointer was put last
};

} // namespace glimra::test
