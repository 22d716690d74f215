#pragma once
// The desktop of a process that shows nothing on any display: Qt's offscreen platform (the unit tests),
// a platform of neither kind (vnc), a program without a GUI application. Every part is real and answers
// honestly: no screens to copy or cover, no windows to snap, no hot keys, no pointer to follow or hide,
// no bell, no XEmbed tray; a panel shows its translucency as Qt draws it.

#include "Desktop.h"

namespace glimra::null {

class NullDesktop final : public Desktop {
public:
    // platform: what Qt runs on ("offscreen"), named in the log lines that say why nothing happens;
    // empty for a program without a GUI application.
    explicit NullDesktop(QString platform = QString());

    QString name() const override { return QStringLiteral("no display"); }
    DesktopCapabilities capabilities() override { return {}; }
    std::unique_ptr<WindowServer> makeWindowServer() override;
    std::unique_ptr<OverlayDesktop> makeOverlayDesktop(WindowServer& windowServer) override;
    std::unique_ptr<PanelDesktop> makePanelDesktop() override;
    std::unique_ptr<MouseEventSource> makeMouseEventSource() override;
    Qt::WindowFlags panelWindowFlags() const override;
    void beep() override {}

protected:
    std::unique_ptr<carbon::HotKeyBackend> makeOwnHotKeyBackend() override;
    bool hidePointer() override { return false; }
    bool showPointer() override { return false; }

private:
    // "the "offscreen" platform", "a program without a display", for log lines.
    QString where() const;

    QString platform_;
};

} // namespace glimra::null
