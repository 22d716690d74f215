// Encodes realistic synthetic screen images (and any screenshots named with --image) with the helper's
// PNG encoder and with libpng at its default settings, in the same run, and prints the median time of
// warm runs, throughput and output size.
//
//   png_bench [--runs N] [--variants] [--save DIR] [--image FILE]...
//
// The encoder runs with its defaults (ISA-L level 1, Up filter, 4 KiB window, one strip per processor)
// and on one thread. --variants also measures ISA-L levels 0-3 with every filter and other windows on
// one thread, and the DEFLATE
// step alone on the same Up-filtered rows through ISA-L and through libdeflate; --save writes the images
// and their encodings for inspection. bench/png_desktop_bench.sh takes real desktop screenshots for --image.

#include "png/PngEncoder.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <png.h>

#include <QColor>
#include <QColorSpace>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace {

using glimra::png::EncoderOptions;
using glimra::png::Filter;
using glimra::png::PngEncoder;

// ---------------------------------------------------------------------------------------------------
// A screen: photo wallpaper, a browser with text and a photo, a dark code editor, a file list, a
// translucent-looking dock. Sizes scale with the height so 3840x2160 looks like a 2x screen.

class ScreenPainter {
public:
    ScreenPainter(int width, int height) : m_image(width, height, QImage::Format_RGB32), m_rng(20240611) {
        m_scale = height / 1080.0;
    }

    QImage paint() {
        paintWallpaper();
        QPainter p(&m_image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const int w = m_image.width();
        const int h = m_image.height();
        paintBrowser(p, QRect(s(60), s(50), int(w * 0.55), int(h * 0.78)));
        paintEditor(p, QRect(int(w * 0.45), s(140), int(w * 0.52), int(h * 0.62)));
        paintFileList(p, QRect(int(w * 0.62), int(h * 0.45), int(w * 0.33), int(h * 0.44)));
        paintDock(p);
        return m_image;
    }

private:
    int s(double v) const { return int(std::lround(v * m_scale)); }

    int noise(int amplitude) { return std::uniform_int_distribution<int>(-amplitude, amplitude)(m_rng); }

    static int clamp8(double v) { return std::clamp(int(v), 0, 255); }

    // Smooth colour fields with grain, like a downscaled photograph.
    void paintPhoto(QImage& target, QRect area, double phase, int grain) {
        area &= target.rect();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
            const double fy = double(y - area.top()) / std::max(1, area.height());
            for (int x = area.left(); x <= area.right(); ++x) {
                const double fx = double(x - area.left()) / std::max(1, area.width());
                const double hills = std::sin(fx * 5.1 + phase) * std::cos(fy * 3.7 - phase) +
                                     0.5 * std::sin((fx + fy) * 11.0 + 2 * phase);
                const double sky = 1.0 - fy;
                const int r = clamp8(40 + 120 * sky + 50 * hills + noise(grain));
                const int g = clamp8(70 + 90 * sky + 60 * hills * fx + noise(grain));
                const int b = clamp8(110 + 120 * sky - 40 * hills + noise(grain));
                line[x] = qRgb(r, g, b);
            }
        }
    }

    void paintWallpaper() { paintPhoto(m_image, m_image.rect(), 0.7, 6); }

    void paintShadow(QPainter& p, QRect r) {
        for (int i = s(16); i > 0; --i) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 6));
            p.drawRoundedRect(r.adjusted(-i, -i + s(6), i, i + s(6)), s(10) + i, s(10) + i);
        }
    }

    QRect paintFrame(QPainter& p, QRect r, const QString& title, bool dark) {
        paintShadow(p, r);
        p.setPen(QColor(0, 0, 0, 60));
        p.setBrush(dark ? QColor(30, 30, 30) : QColor(250, 250, 250));
        p.drawRoundedRect(r, s(10), s(10));
        const QRect bar(r.left(), r.top(), r.width(), s(38));
        QLinearGradient g(bar.topLeft(), bar.bottomLeft());
        g.setColorAt(0, dark ? QColor(60, 60, 62) : QColor(236, 236, 236));
        g.setColorAt(1, dark ? QColor(48, 48, 50) : QColor(214, 214, 214));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(bar, s(10), s(10));
        p.drawRect(bar.adjusted(0, s(19), 0, 0));
        const QColor lights[] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(lights[i]);
            p.drawEllipse(QPoint(bar.left() + s(22 + 22 * i), bar.center().y()), s(7), s(7));
        }
        QFont f("DejaVu Sans");
        f.setPixelSize(s(14));
        f.setBold(true);
        p.setFont(f);
        p.setPen(dark ? QColor(200, 200, 200) : QColor(60, 60, 60));
        p.drawText(bar, Qt::AlignCenter, title);
        return r.adjusted(0, bar.height(), 0, 0);
    }

    QString words(int count) {
        static const QStringList lexicon = {
            "capture", "screen", "pixel",   "window", "image",  "the",       "of",    "and",     "a",
            "display", "region", "encoder", "helper", "stream", "buffer",    "to",    "is",      "with",
            "frame",   "colour", "filter",  "row",    "quick",  "brown",     "fox",   "jumps",   "over",
            "lazy",    "dog",    "menu",    "panel",  "select", "rectangle", "timer", "desktop", "in"};
        QStringList out;
        for (int i = 0; i < count; ++i)
            out << lexicon[std::uniform_int_distribution<int>(0, int(lexicon.size()) - 1)(m_rng)];
        return out.join(' ');
    }

    void paintBrowser(QPainter& p, QRect r) {
        QRect body = paintFrame(p, r, "Documentation - Browser", false);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(242, 242, 247));
        const QRect toolbar(body.left(), body.top(), body.width(), s(44));
        p.drawRect(toolbar);
        p.setBrush(Qt::white);
        p.setPen(QColor(200, 200, 205));
        p.drawRoundedRect(toolbar.adjusted(s(120), s(8), -s(120), -s(8)), s(6), s(6));
        QFont f("DejaVu Sans");
        f.setPixelSize(s(13));
        p.setFont(f);
        p.setPen(QColor(90, 90, 90));
        p.drawText(toolbar.adjusted(s(135), 0, 0, 0), Qt::AlignVCenter, "https://example.org/docs/capture");

        const QRect content = body.adjusted(s(40), s(70), -s(40), -s(20));
        QFont heading("DejaVu Serif");
        heading.setPixelSize(s(30));
        p.setFont(heading);
        p.setPen(QColor(20, 20, 20));
        p.drawText(content.topLeft() + QPoint(0, s(30)), "Encoding screen images quickly");

        const QRect photo(content.left(), content.top() + s(60), content.width() * 2 / 5, s(260));
        p.end();
        paintPhoto(m_image, photo, 2.3, 12);
        p.begin(&m_image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);

        QFont text("DejaVu Sans");
        text.setPixelSize(s(15));
        p.setFont(text);
        const int lineHeight = s(22);
        int y = photo.top() + s(14);
        for (; y < content.bottom(); y += lineHeight) {
            const bool besidePhoto = y < photo.bottom() + s(10);
            const int left = besidePhoto ? photo.right() + s(24) : content.left();
            p.setPen(y % 7 == 0 ? QColor(20, 90, 200) : QColor(40, 40, 40));
            p.drawText(QPoint(left, y), words(besidePhoto ? 8 : 16));
            if ((y / lineHeight) % 9 == 8)
                y += lineHeight / 2;
        }
    }

    void paintEditor(QPainter& p, QRect r) {
        QRect body = paintFrame(p, r, "PngEncoder.cpp - Editor", true);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(37, 37, 38));
        p.drawRect(QRect(body.left(), body.top(), s(220), body.height()));
        QFont mono("DejaVu Sans Mono");
        mono.setPixelSize(s(13));
        p.setFont(mono);
        const QColor palette[] = {QColor(86, 156, 214), QColor(206, 145, 120), QColor(220, 220, 170),
                                  QColor(78, 201, 176), QColor(212, 212, 212), QColor(106, 153, 85)};
        const int lineHeight = s(19);
        int n = 1;
        for (int y = body.top() + s(24); y < body.bottom(); y += lineHeight, ++n) {
            p.setPen(QColor(133, 133, 133));
            p.drawText(QPoint(body.left() + s(230), y), QString::number(n).rightJustified(4));
            int x = body.left() + s(280) + s(16) * std::uniform_int_distribution<int>(0, 4)(m_rng);
            const int tokens = std::uniform_int_distribution<int>(0, 7)(m_rng);
            for (int t = 0; t < tokens; ++t) {
                const QString token = words(1) + (t % 3 == 2 ? "();" : "");
                p.setPen(palette[std::uniform_int_distribution<int>(0, 5)(m_rng)]);
                p.drawText(QPoint(x, y), token);
                x += p.fontMetrics().horizontalAdvance(token + ' ');
            }
        }
        p.setPen(QColor(204, 204, 204));
        for (int i = 0; i < 30; ++i)
            p.drawText(QPoint(body.left() + s(20), body.top() + s(24) + i * lineHeight), words(1) + ".cpp");
    }

    void paintFileList(QPainter& p, QRect r) {
        QRect body = paintFrame(p, r, "Screenshots", false);
        QFont f("DejaVu Sans");
        f.setPixelSize(s(13));
        p.setFont(f);
        const int rowHeight = s(28);
        int i = 0;
        for (int y = body.top(); y + rowHeight <= body.bottom(); y += rowHeight, ++i) {
            const QRect row(body.left(), y, body.width(), rowHeight);
            p.setPen(Qt::NoPen);
            p.setBrush(i == 3 ? QColor(0, 99, 225) : (i % 2 ? QColor(244, 245, 245) : QColor(255, 255, 255)));
            p.drawRect(row);
            p.setBrush(QColor::fromHsv((i * 37) % 360, 120, 230));
            p.drawRoundedRect(QRect(row.left() + s(12), row.top() + s(5), s(18), s(18)), s(3), s(3));
            p.setPen(i == 3 ? Qt::white : QColor(30, 30, 30));
            p.drawText(row.adjusted(s(40), 0, 0, 0), Qt::AlignVCenter,
                       QString("Screenshot 2024-06-%1 at 10.%2.png")
                           .arg(i % 28 + 1)
                           .arg(i * 7 % 60, 2, 10, QChar('0')));
            p.drawText(row.adjusted(0, 0, -s(16), 0), Qt::AlignVCenter | Qt::AlignRight,
                       QString("%1 KB").arg(120 + i * 37 % 900));
        }
    }

    void paintDock(QPainter& p) {
        const int w = m_image.width();
        const int h = m_image.height();
        const QRect dock(w / 2 - s(420), h - s(86), s(840), s(76));
        p.setPen(QColor(255, 255, 255, 90));
        p.setBrush(QColor(235, 235, 240, 170));
        p.drawRoundedRect(dock, s(18), s(18));
        for (int i = 0; i < 12; ++i) {
            const QRect icon(dock.left() + s(16) + i * s(68), dock.top() + s(8), s(58), s(58));
            QRadialGradient g(icon.center(), icon.width() / 1.2);
            g.setColorAt(0, QColor::fromHsv((i * 29) % 360, 90, 255));
            g.setColorAt(1, QColor::fromHsv((i * 29) % 360, 200, 170));
            p.setPen(Qt::NoPen);
            p.setBrush(g);
            p.drawRoundedRect(icon, s(12), s(12));
        }
        p.setBrush(QColor(248, 248, 248));
        p.drawRect(QRect(0, 0, w, s(24)));
        QFont f("DejaVu Sans");
        f.setPixelSize(s(13));
        p.setFont(f);
        p.setPen(QColor(20, 20, 20));
        p.drawText(QRect(s(16), 0, w, s(24)), Qt::AlignVCenter,
                   "Glimra   File   Edit   View   Window   Help");
        p.drawText(QRect(0, 0, w - s(16), s(24)), Qt::AlignVCenter | Qt::AlignRight, "Tue 11 Jun  10:42");
    }

    QImage m_image;
    std::mt19937 m_rng;
    double m_scale = 1.0;
};

// ---------------------------------------------------------------------------------------------------
// libpng at its defaults (zlib level 6, adaptive filters), writing into a reused buffer.

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

bool encodeWithLibpng(const QImage& image, std::vector<unsigned char>& out) {
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, appendToVector, nullptr);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---------------------------------------------------------------------------------------------------

struct Result {
    double medianMs = 0;
    double fastestMs = 0;
    double cpuMs = 0; // median processor time of all threads: what the work costs on a busy machine
    double firstMs = 0;
    qsizetype bytes = 0;
};

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

Result measure(int runs, const std::function<qsizetype()>& encodeOnce) {
    Result result;
    QElapsedTimer timer;
    timer.start();
    result.bytes = encodeOnce();
    result.firstMs = double(timer.nsecsElapsed()) / 1e6;
    std::vector<double> times;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = processCpuMs();
        timer.restart();
        encodeOnce();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(processCpuMs() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    result.medianMs = times[times.size() / 2];
    result.fastestMs = times.front();
    result.cpuMs = cpu[cpu.size() / 2];
    return result;
}

const char* filterName(Filter f) {
    switch (f) {
    case Filter::None:
        return "none";
    case Filter::Sub:
        return "sub";
    case Filter::Up:
        return "up";
    case Filter::Average:
        return "average";
    case Filter::Paeth:
        return "paeth";
    case Filter::Adaptive:
        return "adaptive";
    }
    return "?";
}

void printRow(const char* name, const Result& r, const QImage& image, const Result& reference) {
    const double megabytes = double(image.sizeInBytes()) / 1e6;
    std::printf("  %-22s %7.1f ms (fastest %6.1f, cpu %6.1f, first %6.1f) %6.1f MB/s %9lld bytes %5.2fx size "
                "%5.1fx faster\n",
                name, r.medianMs, r.fastestMs, r.cpuMs, r.firstMs, megabytes / (r.medianMs / 1000.0),
                static_cast<long long>(r.bytes), double(r.bytes) / double(reference.bytes),
                reference.medianMs / r.medianMs);
}

// What the encoder's automatic choice amounts to on this machine.
int threadCount() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
}

// The rows as the encoder's default filter hands them to DEFLATE: a filter byte, then R, G, B minus the
// pixel above.
std::vector<std::uint8_t> upFilteredRows(const QImage& image) {
    const int width = image.width();
    std::vector<std::uint8_t> rows(std::size_t(width * 3 + 1) * std::size_t(image.height()));
    std::uint8_t* d = rows.data();
    for (int y = 0; y < image.height(); ++y) {
        const auto* cur = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const auto* prev = y > 0 ? reinterpret_cast<const QRgb*>(image.constScanLine(y - 1)) : nullptr;
        *d++ = 2;
        for (int x = 0; x < width; ++x) {
            const QRgb above = prev ? prev[x] : 0;
            *d++ = std::uint8_t(qRed(cur[x]) - qRed(above));
            *d++ = std::uint8_t(qGreen(cur[x]) - qGreen(above));
            *d++ = std::uint8_t(qBlue(cur[x]) - qBlue(above));
        }
    }
    return rows;
}

// DEFLATE alone, one thread, one call over all rows: ISA-L's levels beside libdeflate's.
void compareDeflaters(const QImage& image, int runs, const Result& reference) {
    const std::vector<std::uint8_t> rows = upFilteredRows(image);
    std::vector<std::uint8_t> out(rows.size() + rows.size() / 8 + 65536);
    std::printf("  DEFLATE alone on the %zu bytes of Up-filtered rows, one thread:\n", rows.size());
    auto stream = std::make_unique<isal_zstream>();
    std::vector<std::uint8_t> levelBuffer(ISAL_DEF_LVL3_DEFAULT);
    for (int level = 0; level <= 3; ++level) {
        const Result r = measure(runs, [&] {
            isal_deflate_init(stream.get());
            stream->level = std::uint32_t(level);
            stream->level_buf = levelBuffer.data();
            stream->level_buf_size = std::uint32_t(levelBuffer.size());
            stream->gzip_flag = IGZIP_ZLIB;
            stream->end_of_stream = 1;
            stream->next_in = const_cast<std::uint8_t*>(rows.data());
            stream->avail_in = std::uint32_t(rows.size());
            stream->next_out = out.data();
            stream->avail_out = std::uint32_t(out.size());
            return isal_deflate(stream.get()) == COMP_OK ? qsizetype(stream->total_out) : 0;
        });
        const QByteArray name = QString("isa-l level %1").arg(level).toUtf8();
        printRow(name.constData(), r, image, reference);
    }
    for (int level : {1, 6}) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        const Result r = measure(runs, [&] {
            return qsizetype(libdeflate_zlib_compress(c, rows.data(), rows.size(), out.data(), out.size()));
        });
        libdeflate_free_compressor(c);
        const QByteArray name = QString("libdeflate level %1").arg(level).toUtf8();
        printRow(name.constData(), r, image, reference);
    }
}

bool sameImage(const QImage& encoded, const QImage& original) {
    return encoded.convertToFormat(QImage::Format_RGB32) == original;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    int runs = 9;
    bool variants = false;
    QString saveDir;
    QStringList imageFiles;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--variants")
            variants = true;
        else if (args[i] == "--save" && i + 1 < args.size())
            saveDir = args[++i];
        else if (args[i] == "--image" && i + 1 < args.size())
            imageFiles << args[++i];
    }

    struct Subject {
        QString name;
        QImage image;
        bool painted; // --save writes the painted ones
    };
    std::vector<Subject> subjects;
    for (const QSize size : {QSize(3840, 2160), QSize(1920, 1080)})
        subjects.push_back({QString("%1x%2 screen image").arg(size.width()).arg(size.height()),
                            ScreenPainter(size.width(), size.height()).paint(), true});
    for (const QString& file : imageFiles) {
        QImage image = QImage(file).convertToFormat(QImage::Format_RGB32);
        // Pixels only: the encoder writes no colour space, and QImage's comparison would count it.
        image.setColorSpace(QColorSpace());
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
            return 1;
        }
        subjects.push_back(
            {QString("%1 (%2x%3)").arg(file).arg(image.width()).arg(image.height()), image, false});
    }
    int failures = 0;
    for (const Subject& subject : subjects) {
        const QImage& image = subject.image;
        const QSize size = image.size();
        std::printf("%s (%.1f MB as RGB32), median of %d warm runs; MB/s of RGB32 input:\n",
                    qPrintable(subject.name), double(image.sizeInBytes()) / 1e6, runs);

        std::vector<unsigned char> libpngOut;
        libpngOut.reserve(std::size_t(image.sizeInBytes()));
        const Result reference = measure(runs, [&] {
            encodeWithLibpng(image, libpngOut);
            return qsizetype(libpngOut.size());
        });

        PngEncoder encoder;
        QByteArray out;
        const Result chosen = measure(runs, [&] {
            encoder.encode(image, out);
            return out.size();
        });
        EncoderOptions serialOptions;
        serialOptions.threads = 1;
        PngEncoder serial(serialOptions);
        QByteArray serialOut;
        const Result oneThread = measure(runs, [&] {
            serial.encode(image, serialOut);
            return serialOut.size();
        });
        const QByteArray chosenName = QString("glimra (%1 threads)").arg(threadCount()).toUtf8();
        printRow("libpng default", reference, image, reference);
        printRow(chosenName.constData(), chosen, image, reference);
        printRow("glimra (1 thread)", oneThread, image, reference);

        if (!sameImage(QImage::fromData(out, "PNG"), image)) {
            std::printf("  ERROR: the encoded image does not decode to the original\n");
            ++failures;
        }
        if (!saveDir.isEmpty() && subject.painted) {
            QDir().mkpath(saveDir);
            const QString stem = QString("%1/screen-%2x%3").arg(saveDir).arg(size.width()).arg(size.height());
            image.save(stem + "-source.bmp");
            QFile f(stem + "-glimra.png");
            if (f.open(QIODevice::WriteOnly))
                f.write(out);
        }

        if (variants) {
            // One thread, options as given.
            const auto variant = [&](const QString& name, EncoderOptions options) {
                options.threads = 1;
                PngEncoder candidate(options);
                QByteArray candidateOut;
                const Result r = measure(std::max(1, runs / 3), [&] {
                    candidate.encode(image, candidateOut);
                    return candidateOut.size();
                });
                printRow(name.toUtf8().constData(), r, image, reference);
            };
            for (int level : {0, 1, 2, 3}) {
                for (Filter filter :
                     {Filter::Up, Filter::Sub, Filter::Paeth, Filter::Adaptive, Filter::None}) {
                    EncoderOptions options;
                    options.compressionLevel = level;
                    options.filter = filter;
                    variant(QString("level %1, %2").arg(level).arg(filterName(filter)), options);
                }
            }
            for (int windowBits : {10, 15}) {
                EncoderOptions options;
                options.windowBits = windowBits;
                variant(QString("level 1, up, %1 KiB window").arg((1 << windowBits) / 1024), options);
            }
            compareDeflaters(image, std::max(1, runs / 3), reference);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
