#pragma once
// Reads the root window's pixels into images as a GrabPlan lays them out: through MIT-SHM when the
// server offers it, else (and while a new segment is being faulted in) through plain GetImage.

#include "x11/DisplayGeometry.h"
#include "x11/PixelBufferPool.h"
#include "x11/ShmSegment.h"

#include <QImage>
#include <QString>

namespace glimra::x11 {

class XcbConnection;

class ScreenGrabber {
public:
    ScreenGrabber(XcbConnection& connection, bool useSharedMemory);

    // An opaque RGB32 image on a pooled buffer; null (with a log line) when the pixels cannot be read.
    QImage grab(const GrabPlan& plan);

    // Readies a pixel buffer for the plan and the segment for its largest piece, which the server
    // then faults in while the caller goes on.
    void warmUp(const GrabPlan& plan);

    bool usesSharedMemory() const { return shmAvailable_; }

private:
    void checkPixelFormat();
    bool ensureSegment(std::size_t bytes);
    bool read(const QRect& src, uchar* dst, qsizetype stride);
    bool readShm(const QRect& src, uchar* dst, qsizetype stride);
    bool readPlain(const QRect& src, uchar* dst, qsizetype stride);
    void prime(const QRect& src);

    XcbConnection& x_;
    QString pixelFormatProblem_; // empty when grabs can be read as RGB32
    bool shmAvailable_ = false;
    ShmSegment segment_;
    PixelBufferPool pool_;
};

} // namespace glimra::x11
