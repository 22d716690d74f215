#include "Log.h"

#include <QByteArray>

#include <cerrno>
#include <syslog.h>
#include <unistd.h>

namespace glimra {

namespace {

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

QString printable(const QString& peerText, qsizetype maxLength) {
    if (peerText.size() <= maxLength)
        return escaped(peerText);
    return escaped(peerText.left(maxLength)) + QChar(0x2026);
}

void logQtMessages() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
        const bool named = context.category && qstrcmp(context.category, "default") != 0;
        writeLogLine(named ? QString::fromLatin1(context.category) + QLatin1String(": ") + message : message);
    });
}

void writeLogLine(const QString& unsafeLine) {
    const QString line = escaped(unsafeLine);
    static const bool opened = [] {
        openlog(program_invocation_short_name, LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    const QByteArray text = line.toUtf8();
    // One write() per line keeps lines whole when several threads log at once.
    QByteArray out =
        QByteArray(program_invocation_short_name) + '[' + QByteArray::number(getpid()) + "]: " + text + '\n';
    const char* p = out.constData();
    qsizetype left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
    syslog(LOG_NOTICE, "%s", text.constData());
}

} // namespace glimra
