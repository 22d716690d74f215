#include "HotKeyNames.h"

#include "HotKeyLogic.h"

#include <QCoreApplication>
#include <QStringList>

#include <xkbcommon/xkbcommon.h>

#include <array>

namespace glimra::hotkeys {

namespace {

using namespace carbon;

const std::array<const char*, 4> kSwayModifiers{"Ctrl", "Mod1", "Shift", "Mod4"};

// Modifier names in the order a desktop's settings show them, with the key's name last.
QString combination(const QString& keyName, UInt32 modifiers,
                    const std::array<const char*, 4>& names /* Control, Alt, Shift, Super */,
                    const QString& separator = QStringLiteral("+")) {
    if (keyName.isEmpty())
        return QString();
    QStringList parts;
    if (modifiers & controlKey)
        parts << QLatin1String(names[3]);
    if (modifiers & cmdKey)
        parts << QLatin1String(names[0]);
    if (modifiers & optionKey)
        parts << QLatin1String(names[1]);
    if (modifiers & shiftKey)
        parts << QLatin1String(names[2]);
    parts << keyName;
    return parts.join(separator);
}

// The same with the key's US symbol, or the one Shift gives it in place of the Shift.
QString combination(UInt32 keyCode, UInt32 modifiers, bool shiftedSymbol,
                    const std::array<const char*, 4>& names, const QString& separator = QStringLiteral("+")) {
    Keysym key = keysymForVirtualKey(keyCode);
    if ((modifiers & shiftKey) && shiftedSymbol && shiftedKeysymForVirtualKey(keyCode)) {
        key = shiftedKeysymForVirtualKey(keyCode);
        modifiers &= ~shiftKey;
    }
    return combination(keysymName(key), modifiers, names, separator);
}

struct KnownAction {
    UInt32 id;
    const char* name;
    const char* description;
};

// The helper's hot keys, as its status menu names them.
constexpr KnownAction kHelperActions[] = {
    {1, "capture-region", QT_TRANSLATE_NOOP("Localizable", "Capture Region")},
    {2, "capture-previous-area", QT_TRANSLATE_NOOP("Localizable", "Capture Previous Area")},
    {3, "capture-fullscreen", QT_TRANSLATE_NOOP("Localizable", "Capture Full Screen")},
    {4, "show-main-app", QT_TRANSLATE_NOOP("Localizable", "Show Glimra")},
    {5, "capture-region-timed", QT_TRANSLATE_NOOP("Localizable", "Capture Region with Timer")},
};
constexpr OSType kHelperSignature = makeFourCharCode("GlHk");

} // namespace

QString keysymName(Keysym keysym) {
    std::array<char, 64> name{};
    return keysym && xkb_keysym_get_name(keysym, name.data(), name.size()) > 0
               ? QString::fromLatin1(name.data())
               : QString();
}

QString swayCombination(UInt32 keyCode, UInt32 modifiers, bool shiftedSymbol) {
    return combination(keyCode, modifiers, shiftedSymbol, kSwayModifiers);
}

QString swayBinding(UInt32 modifiers, const QString& key) {
    return combination(key, modifiers, kSwayModifiers);
}

QString portalTrigger(UInt32 keyCode, UInt32 modifiers, bool shiftedSymbol) {
    return combination(keyCode, modifiers, shiftedSymbol, {"CTRL", "ALT", "SHIFT", "LOGO"});
}

QString gnomeBinding(UInt32 keyCode, UInt32 modifiers) {
    return combination(keyCode, modifiers, false, {"<Control>", "<Alt>", "<Shift>", "<Super>"}, QString());
}

HotKeyAction hotKeyAction(EventHotKeyID id, UInt32 keyCode, UInt32 modifiers) {
    if (id.signature == kHelperSignature)
        for (const KnownAction& action : kHelperActions)
            if (action.id == id.id)
                return {QLatin1String(action.name),
                        QCoreApplication::translate("Localizable", action.description)};
    QString signature;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (const QChar c = QLatin1Char(char((id.signature >> shift) & 0xff)); c.isLetterOrNumber())
            signature += c.toLower();
    return {QStringLiteral("hotkey-%1-%2").arg(signature).arg(id.id), swayCombination(keyCode, modifiers)};
}

} // namespace glimra::hotkeys
