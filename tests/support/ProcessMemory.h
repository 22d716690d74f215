#pragma once
// Another process's memory as the kernel counts it (/proc/PID/smaps_rollup), for the tests and the
// benchmarks that watch the helper. Header-only, so that the benchmarks need nothing else of here.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace glimra::test {

struct ProcessMemory {
    double pssMiB = -1;       // proportional set size: shared pages split among their users
    double anonymousMiB = -1; // private heap and anonymous mappings: what the process itself holds
};

// Whether the programs under test run on the sanitizers' heap, which keeps freed memory in quarantine
// rather than give it back: their memory figures then say nothing about the program's own.
inline constexpr bool kSanitizerHeap =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

inline ProcessMemory processMemory(qint64 pid) {
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    ProcessMemory memory;
    if (!rollup.open(QIODevice::ReadOnly))
        return memory;
    const auto kib = [](const QByteArray& line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() / 1024;
    };
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            memory.pssMiB = kib(line);
        else if (line.startsWith("Anonymous:"))
            memory.anonymousMiB = kib(line);
    }
    return memory;
}

} // namespace glimra::test
