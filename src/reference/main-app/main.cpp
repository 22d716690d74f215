// The reference main application. Usage:
//   Glimra [--output DIR] [--answer allow|refuse|nokey|error|ignore] [--no-connect] [--send KIND]...
//   [--start-helper-at-login true|false] [glimra:///...]

#include "ReferenceMainApp.h"
#include "UnixSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStandardPaths>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Glimra"));
    glimra::quitApplicationOnTerminationSignals();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reference main application for Glimra Helper"));
    parser.addHelpOption();
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("Folder for screenshots."),
                                    QStringLiteral("dir"));
    const QCommandLineOption answer(
        QStringLiteral("answer"),
        QStringLiteral("Answer to capture requests: allow, refuse, nokey, error, ignore."),
        QStringLiteral("answer"), QStringLiteral("allow"));
    const QCommandLineOption noConnect(QStringLiteral("no-connect"),
                                       QStringLiteral("Never connect to the helper."));
    const QCommandLineOption send(QStringLiteral("send"),
                                  QStringLiteral("Message kind to send once connected (repeatable), e.g. 6."),
                                  QStringLiteral("kind"));
    const QCommandLineOption startAtLogin(
        QStringLiteral("start-helper-at-login"),
        QStringLiteral("Start the helper at login (true) or not (false): writes or removes its login item "
                       "and tells the helper."),
        QStringLiteral("bool"));
    parser.addOptions({output, answer, noConnect, send, startAtLogin});
    parser.addPositionalArgument(QStringLiteral("url"),
                                 QStringLiteral("The glimra:/// URL it was opened with."));
    parser.process(app);

    ReferenceMainApp::Options options;
    options.outputDirectory =
        parser.isSet(output)
            ? parser.value(output)
            : QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Glimra");
    const QString a = parser.value(answer);
    options.answer = a == u"refuse"   ? ReferenceMainApp::Answer::Refuse
                     : a == u"nokey"  ? ReferenceMainApp::Answer::RefuseWithoutKey
                     : a == u"error"  ? ReferenceMainApp::Answer::RefuseWithError
                     : a == u"ignore" ? ReferenceMainApp::Answer::Ignore
                                      : ReferenceMainApp::Answer::Allow;
    options.connect = !parser.isSet(noConnect);
    for (const QString& kind : parser.values(send))
        options.sendOnConnect.append(kind.toULongLong());
    if (parser.isSet(startAtLogin)) {
        const QString value = parser.value(startAtLogin);
        if (value != u"true" && value != u"false") {
            std::fprintf(stderr, "Glimra: --start-helper-at-login takes true or false\n");
            return 1;
        }
        options.startHelperAtLogin = value == u"true";
    }

    ReferenceMainApp mainApp(options);
    if (!mainApp.start())
        return mainApp.exitStatus();
    return QCoreApplication::exec();
}
