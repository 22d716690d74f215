#include "PrivateDisplay.h"

#include "XTestKit.h"

#include <QRegularExpression>

namespace glimra::test {

PrivateDisplay::PrivateDisplay(QSize size, const QStringList& extraArguments) : size_(size) {
    const QString displayFile = dir_.filePath(QStringLiteral("display"));
    xvfb_.setStandardOutputFile(QProcess::nullDevice());
    xvfb_.setStandardErrorFile(QProcess::nullDevice());
    // bash opens descriptor 3 for -displayfd; exec leaves Xvfb under QProcess's own PID.
    xvfb_.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1x%2x24 -nolisten tcp -noreset %3 3>'%4'")
                     .arg(size.width())
                     .arg(size.height())
                     .arg(extraArguments.join(u' '), displayFile)});
    waitUntil(
        [&] {
            if (const QByteArray n = fileContents(displayFile).trimmed(); !n.isEmpty())
                name_ = u':' + QString::fromLatin1(n);
            return !name_.isEmpty();
        },
        10000);
}

PrivateDisplay::~PrivateDisplay() {
    for (QProcess* p : {&compositor_, &windowManager_})
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            p->waitForFinished(5000);
        }
    xvfb_.terminate();
    if (!xvfb_.waitForFinished(5000))
        xvfb_.kill();
}

QProcessEnvironment PrivateDisplay::environment(QProcessEnvironment env) const {
    for (const char* scaling : {"QT_SCREEN_SCALE_FACTORS", "QT_SCALE_FACTOR", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(scaling));
    env.insert(QStringLiteral("DISPLAY"), name_);
    return env;
}

int PrivateDisplay::run(const QString& program, const QStringList& arguments,
                        const QMap<QString, QString>& env, QString* output, const QByteArray& input) {
    QProcessEnvironment e = environment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    QProcess p;
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(180000);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool PrivateDisplay::monitors(const QStringList& layout) {
    for (qsizetype i = 0; i < layout.size(); ++i) {
        const QStringList nameAndRect = layout[i].split(u' ');
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)\\+(\\d+)\\+(\\d+)$"))
                .match(nameAndRect.value(1));
        if (nameAndRect.size() != 2 || !m.hasMatch())
            return false;
        // Physical sizes of 96 dpi, so that Qt's scale comes from the desktop's settings alone.
        const int w = m.captured(1).toInt(), h = m.captured(2).toInt();
        const QString geometry = QStringLiteral("%1/%2x%3/%4+%5+%6")
                                     .arg(w)
                                     .arg(w * 254 / 960)
                                     .arg(h)
                                     .arg(h * 254 / 960)
                                     .arg(m.captured(3), m.captured(4));
        if (!xrandr({"--setmonitor", nameAndRect[0], geometry, i == 0 ? "screen" : "none"}))
            return false;
    }
    return true;
}

bool PrivateDisplay::scaleQt(const QString& scaling, QProcessEnvironment& env) {
    const qsizetype equals = scaling.indexOf(u'=');
    if (equals < 0)
        return false;
    const QString name = scaling.left(equals), value = scaling.mid(equals + 1);
    if (name == QLatin1String("Xft.dpi"))
        return run(QStringLiteral("xrdb"), {"-merge", "-nocpp"}, {}, nullptr,
                   QStringLiteral("Xft.dpi: %1\n").arg(value).toLatin1()) == 0;
    env.insert(name, value);
    return true;
}

void PrivateDisplay::startQuietly(QProcess& process, const QStringList& command) {
    process.setProcessEnvironment(environment());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(command.front(), command.mid(1));
}

bool PrivateDisplay::startWindowManager() {
    startQuietly(windowManager_, {"openbox", "--sm-disable"});
    // Ready once it announces itself on the root window.
    return windowManager_.waitForStarted() &&
           waitUntil(
               [&] {
                   QString out;
                   run(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"}, {}, &out);
                   return out.contains(QStringLiteral("window id"));
               },
               10000);
}

bool PrivateDisplay::startCompositor(const QString& commandLine) {
    const QStringList command = commandLine.split(u' ', Qt::SkipEmptyParts);
    if (command.isEmpty() || compositor_.state() != QProcess::NotRunning)
        return false;
    startQuietly(compositor_, command);
    XClient x(name_);
    return compositor_.waitForStarted() && x.ok() &&
           waitUntil([&] { return x.selectionOwner("_NET_WM_CM_S0") != XCB_NONE; }, 10000);
}

bool PrivateDisplay::startDesktop(const QString& compositor) {
    return ready() && startWindowManager() && (compositor.isEmpty() || startCompositor(compositor));
}

void PrivateDisplay::expectChecksPass(const QString& program, const QString& filter,
                                      const QMap<QString, QString>& env) {
    QMap<QString, QString> all = env;
    all.insert(QStringLiteral("GLIMRA_PRIVATE_DISPLAY"), QStringLiteral("1"));
    QString output;
    const int status = run(program, {QStringLiteral("--gtest_filter=") + filter}, all, &output);
    EXPECT_EQ(status, 0) << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("[  SKIPPED ]"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ]"))) << output.toStdString();
}

} // namespace glimra::test
