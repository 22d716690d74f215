#pragma once
// An X server of a test's own (Xvfb), for desktops that must not disturb the shared session: several
// RandR monitors, scale factors, a compositing manager, a framebuffer file to look at. Stopped by its
// PID when the object goes, with the window and compositing managers it runs.

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace glimra::test {

// The compositing manager of the tests' composited desktops, run as many users run it: picom's
// XRender backend, with fading.
inline const QString kCompositor = QStringLiteral("picom --backend xrender --fading");

class PrivateDisplay {
public:
    // A root window of that size at depth 24; extraArguments go to Xvfb (e.g. -fbdir DIR).
    explicit PrivateDisplay(QSize size, const QStringList& extraArguments = {});
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool ready() const { return !name_.isEmpty(); }
    const QString& name() const { return name_; } // ":N"
    QSize size() const { return size_; }          // the root window's, as started

    // base with DISPLAY set to this display and Qt's scaling variables of the caller removed.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // Runs a program against this display; its exit status, -1 when it did not finish normally.
    int run(const QString& program, const QStringList& arguments, const QMap<QString, QString>& env = {},
            QString* output = nullptr, const QByteArray& input = {});
    bool xrandr(const QStringList& arguments) { return run(QStringLiteral("xrandr"), arguments) == 0; }
    // RandR monitors, each "NAME WxH+X+Y" in root pixels, the primary's name starting with '*': the
    // first is bound to the output, so that no automatic whole-screen monitor becomes another screen.
    bool monitors(const QStringList& layout);
    // Qt's screens on this display at a scale as a desktop sets it: "Xft.dpi=144" goes into the X
    // resources (as a desktop's settings do), "VARIABLE=value" (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS)
    // into env, for the program the caller starts. False when the resources cannot be set.
    bool scaleQt(const QString& scaling, QProcessEnvironment& env);
    // Runs openbox on this display until the object goes; true once it manages the screen.
    bool startWindowManager();
    // Runs a compositing manager (a command line) on this display until the object goes; true once it
    // owns the screen's _NET_WM_CM_S0 selection.
    bool startCompositor(const QString& commandLine = kCompositor);
    // openbox, then startCompositor(compositor) where one is given: true once both are up.
    bool startDesktop(const QString& compositor = QString());

    // Runs the gtest program's tests matching filter inside this display, with GLIMRA_PRIVATE_DISPLAY=1
    // (the checks skip without it), and expects them to run and pass.
    void expectChecksPass(const QString& program, const QString& filter,
                          const QMap<QString, QString>& env = {});

private:
    // Starts command (a program and its arguments) on this display, its output dropped.
    void startQuietly(QProcess& process, const QStringList& command);
    QTemporaryDir dir_;
    QProcess xvfb_;
    QProcess windowManager_;
    QProcess compositor_;
    QString name_;
    QSize size_;
};

} // namespace glimra::test
