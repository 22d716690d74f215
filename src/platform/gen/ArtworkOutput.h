#pragma once
// The common frame of the build-time artwork generators: "PROGRAM OUTPUT_DIR", one PNG per image.

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <functional>
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

// The main of a generator that needs nothing but its output folder: runs write on it; the exit status.
inline int writeArtwork(int argc, char** argv, const std::function<bool(const QDir& out)>& write) {
    int status = 0;
    const std::optional<QDir> out = outputDirectory(argc, argv, &status);
    if (!out)
        return status;
    return write(*out) ? 0 : 1;
}

} // namespace glimra::artwork
