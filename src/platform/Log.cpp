#include "Log.h"

#include <QByteArray>

#include <cerrno>
#include <syslog.h>
#include <unistd.h>

namespace glimra {

void writeLogLine(const QString& line) {
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
