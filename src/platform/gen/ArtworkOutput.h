#pragma once
// The common frame of the build-time artwork generators: "PROGRAM OUTPUT_DIR", one PNG per image.

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <optional>

namespace glimra::artwork {

// The output folder named by the only argument, created when missing; nullopt (with a message and
// *status set to the exit status) otherwise.
inline std::optional<QDir> outputDirectory(int argc, char** argv, int* status) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        *status = 2;
        return std::nullopt;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "Cannot create %s\n", argv[1]);
        *status = 1;
        return std::nullopt;
    }
    return out;
}

inline bool writePng(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace glimra::artwork
