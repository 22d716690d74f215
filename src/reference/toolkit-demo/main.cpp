// Shows the interface toolkit on a dark panel: labels and fields re-fitted to the user's language,
// a gray and a blue skinned button with white titles, and a line of styled text built from a
// template. Runs until the panel's Cancel or Capture button is pressed (or for --seconds N).
//
// With --resize-panel it shows the crosshair capture's resize panel instead, for a selection of
// 640x480 (--size WxH) at the centre of the screen, and prints what the panel reports on stdout
// ("size 800x600", "lock 1 0.75", "capture", "timer", "fullscreen", "cancel"); an ending choice quits.
//
//   GlimraToolkitDemo [--resize-panel [--size WxH]] [--seconds N]

#include "Bundle.h"
#include "DarkPanel.h"
#include "GlimraThreePartImageButtonCell.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "NSAttributedStringAdditions.h"
#include "NSButtonAdditions.h"
#include "VLI18NButton.h"
#include "VLI18NContentView.h"
#include "VLI18NTextField.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

#include <cmath>

namespace {

QString localized(const char* key) {
    return glimra::Bundle::mainBundle().localizedString(key);
}

VLI18NTextField* label(const char* key, QRect geometry, QWidget* parent) {
    auto* field = new VLI18NTextField(localized(key), parent);
    field->setStyleSheet(QStringLiteral("color: white;"));
    field->setGeometry(geometry);
    return field;
}

QLineEdit* numberField(const QString& value, QRect geometry, QWidget* parent) {
    auto* field = new QLineEdit(value, parent);
    field->setAlignment(Qt::AlignRight);
    field->setGeometry(geometry);
    return field;
}

VLI18NButton* skinnedButton(const char* key, void (*skin)(glimra::NSButton&), QRect geometry,
                            QWidget* parent) {
    auto* button = new VLI18NButton(std::make_unique<GlimraThreePartImageButtonCell>(), parent);
    button->setTitle(localized(key));
    skin(*button);
    setTextColor(*button, Qt::white);
    setTextShadowColor(*button, QColor(0, 0, 0, 140), {0, -1}, 1.0);
    button->setGeometry(geometry);
    return button;
}

// Stands in for the selection the panel refines: takes every size as it comes and keeps the ratio.
class DemoSelection final : public ImageCaptureCrosshairResizeProtocol {
public:
    void crosshairResizeControllerDidCancel(ImageCaptureCrosshairResizeWindowController*) override {
        end("cancel");
    }
    void crosshairResizeControllerDidAcceptCapture(ImageCaptureCrosshairResizeWindowController*) override {
        end("capture");
    }
    void
    crosshairResizeControllerDidAcceptTimedCapture(ImageCaptureCrosshairResizeWindowController*) override {
        end("timer");
    }
    void crosshairResizeControllerDidAcceptFullscreenCapture(
        ImageCaptureCrosshairResizeWindowController*) override {
        end("fullscreen");
    }
    void crosshairResizeControllerDidChangeCaptureSize(ImageCaptureCrosshairResizeWindowController* panel,
                                                       CGSize size) override {
        say(QStringLiteral("size %1x%2").arg(size.width).arg(size.height));
        panel->setCrosshairSize(size);
    }
    void crosshairResizeControllerDidChangeResizeRatioLock(ImageCaptureCrosshairResizeWindowController*,
                                                           bool locked, double ratio) override {
        ratio_ = ratio;
        say(QStringLiteral("lock %1 %2").arg(int(locked)).arg(ratio));
    }
    double crosshairResizeControllerCurrentWidthToHeightRatio(
        ImageCaptureCrosshairResizeWindowController*) override {
        return ratio_;
    }

private:
    static void say(const QString& line) { QTextStream(stdout) << line << Qt::endl; }
    static void end(const char* choice) {
        say(QString::fromLatin1(choice));
        QCoreApplication::quit();
    }
    double ratio_ = 0;
};

int showResizePanel(QSize selection) {
    DemoSelection delegate;
    ImageCaptureCrosshairResizeWindowController panel;
    panel.setDelegate(&delegate);
    panel.setCrosshairSize({double(selection.width()), double(selection.height())});
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const glimra::NSRect frame = panel.window()->frame();
    panel.window()->setFrameOrigin({std::floor((screen.width() - frame.size.width) / 2),
                                    std::floor((screen.height() - frame.size.height) / 2)});
    panel.window()->makeKeyAndOrderFront();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption(
        {QStringLiteral("seconds"), QStringLiteral("Quit after N seconds."), QStringLiteral("N")});
    options.addOption(
        {QStringLiteral("resize-panel"), QStringLiteral("Show the crosshair capture's resize panel.")});
    options.addOption({QStringLiteral("size"), QStringLiteral("The selection the resize panel shows."),
                       QStringLiteral("WxH"), QStringLiteral("640x480")});
    options.process(app);
    glimra::Bundle::mainBundle().loadLocalizations(app);
    if (options.isSet(QStringLiteral("seconds")))
        QTimer::singleShot(int(options.value(QStringLiteral("seconds")).toDouble() * 1000), &app,
                           &QCoreApplication::quit);
    if (options.isSet(QStringLiteral("resize-panel"))) {
        const QStringList size = options.value(QStringLiteral("size")).split(QLatin1Char('x'));
        return showResizePanel({size.value(0).toInt(), size.value(1).toInt()});
    }

    // Laid out for English; the localization pass below re-fits it to the language in use.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    DarkPanel panel(glimra::NSMakeRect(screen.width() / 2.0 - 170, screen.height() / 2.0 - 60, 340, 120),
                    NSTitledWindowMask, nullptr);
    auto* content = new VLI18NContentView(panel.contentView());
    content->setGeometry(panel.contentView()->rect());

    label(QT_TRANSLATE_NOOP("Localizable", "Width"), {18, 18, 40, 22}, content);
    numberField(QStringLiteral("640"), {62, 16, 64, 26}, content);
    label(QT_TRANSLATE_NOOP("Localizable", "Height"), {140, 18, 44, 22}, content);
    numberField(QStringLiteral("480"), {188, 16, 64, 26}, content);

    auto* choices = new VLI18NTextField(content);
    const auto link = attributesForLinkTo(QString(), QColor(0x9c, 0xc8, 0xff), false);
    const auto text = attributedStringWithTemplate(
        QStringLiteral("$1  \u00b7  $2"), {{glimra::NSForegroundColorAttributeName, QColor(Qt::white)}},
        {localized(QT_TRANSLATE_NOOP("Localizable", "Timer")), link,
         localized(QT_TRANSLATE_NOOP("Localizable", "Fullscreen")), link});
    choices->setTextFormat(Qt::RichText);
    choices->setText(text ? text->toHtml() : QString());
    choices->setGeometry(18, 54, 160, 22);

    auto* cancel = skinnedButton(QT_TRANSLATE_NOOP("Localizable", "Cancel"), setCellImagesForGrayButton,
                                 {160, 84, 76, 24}, content);
    auto* capture = skinnedButton(QT_TRANSLATE_NOOP("Localizable", "Capture"), setCellImagesForBlueButton,
                                  {246, 84, 76, 24}, content);
    QObject::connect(cancel, &QPushButton::clicked, &app, &QCoreApplication::quit);
    QObject::connect(capture, &QPushButton::clicked, &app, &QCoreApplication::quit);

    content->awakeFromNib();
    cancel->awakeFromNib();
    capture->awakeFromNib();
    glimra::WidgetWindow window(&panel, content);
    resizeForI18N(window);
    panel.contentView()->setGeometry(panel.rect());

    panel.makeKeyAndOrderFront();
    return QApplication::exec();
}
