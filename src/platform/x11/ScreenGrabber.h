#pragma once
// Reads the root window's pixels into images as a GrabPlan lays them out: through MIT-SHM when the
// server offers it, else (and while a new segment is being faulted in) through plain GetImage. An image
// of one piece lives in the segment the server writes it into: no copy on this side.

#include "display/DisplayGeometry.h"
#include "pixels/PixelBufferPool.h"
#include "x11/ShmSegment.h"

#include <QImage>
#include <QString>

#include <xcb/xcb.h>

namespace glimra::x11 {

class XcbConnection;

class ScreenGrabber {
public:
    ScreenGrabber(XcbConnection& connection, bool useSharedMemory);

    // An opaque RGB32 image on a pooled buffer; null (with a log line) when the pixels cannot be read.
    QImage grab(const GrabPlan& plan);

    // All of a drawable other than the root window (a window's own pixmap), size pixels from its
    // corner, read plainly; null (with a log line) when it cannot be read.
    QImage grabDrawable(xcb_drawable_t drawable, QSize size);

    // Readies the segment (and, for a plan of several pieces, the pixel buffer) a grab of the plan
    // needs; the server faults the segment in while the caller goes on.
    void warmUp(const GrabPlan& plan);
    // Lets go of the idle segments and buffers; the next grab reads plainly and readies them again.
    void releaseBuffers();

    bool usesSharedMemory() const { return shmAvailable_; }

private:
    void checkPixelFormat();
    std::unique_ptr<PixelBuffer> makeSegment(std::size_t bytes);
    bool read(const QRect& src, uchar* dst, qsizetype stride);
    bool readShm(ShmSegment& segment, const QRect& src, uchar* dst, qsizetype stride);
    bool readPlain(xcb_drawable_t drawable, const QRect& src, uchar* dst, qsizetype stride);
    void prime(const ShmSegment& segment);

    XcbConnection& x_;
    QString pixelFormatProblem_; // empty when grabs can be read as RGB32
    bool shmAvailable_ = false;
    PixelBufferPool segments_; // ShmSegments only
    PixelBufferPool pool_;     // for images of several pieces, and plain reads
};

} // namespace glimra::x11
