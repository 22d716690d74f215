#pragma once
// How desktops that bind shortcuts by name are told about a hot key: the combination in sway's
// `bindsym` form or in the portal's trigger form, and a name and description for what it does.
// Modifiers follow Qt's macOS convention, as the X11 grabs do: Command is Ctrl, Control is Super,
// Option is Alt.

#include "CarbonEvents.h"
#include "HotKeyLogic.h"

#include <QString>

namespace glimra::hotkeys {

// sway's form, "Mod4+Ctrl+Shift+5" (sway 1.7 knows no "Super"); empty for a key without a keysym.
// With shiftedSymbol, a Shift that turns the key into another symbol on a US keyboard is written as
// that symbol instead: "Mod4+Ctrl+percent".
QString swayCombination(carbon::UInt32 keyCode, carbon::UInt32 modifiers, bool shiftedSymbol = false);
// The same with the key given as sway reads it: a keysym's name, or a key code ("Mod4+Ctrl+Shift+14",
// for `bindcode`); empty for an empty key.
QString swayBinding(carbon::UInt32 modifiers, const QString& key);
// xkb's name of a symbol ("parenleft"); empty for none.
QString keysymName(Keysym keysym);

// The form of the freedesktop shortcuts specification the GlobalShortcuts portal takes,
// "CTRL+SHIFT+LOGO+5". KDE Plasma 5 matches a Shift that changes the symbol by the symbol alone (it
// sees Ctrl+Shift+6 as Ctrl+^), so for it, shiftedSymbol writes "CTRL+LOGO+percent" as above.
QString portalTrigger(carbon::UInt32 keyCode, carbon::UInt32 modifiers, bool shiftedSymbol = false);

// GNOME's form (GTK's accelerator names), "<Control><Shift><Super>5".
QString gnomeBinding(carbon::UInt32 keyCode, carbon::UInt32 modifiers);

// What a hot key is called where the desktop lists it: the helper's five by the ids they are
// registered under ('GlHk' 1 to 5: "capture-region" with the status menu's "Capture Region", and so
// on, translated), any other by its id and combination.
struct HotKeyAction {
    QString name;        // a-z, 0-9 and '-' only
    QString description; // for people
};
HotKeyAction hotKeyAction(carbon::EventHotKeyID id, carbon::UInt32 keyCode, carbon::UInt32 modifiers);

// A command of the helper's with its combination, for a desktop that binds commands itself.
struct HotKeyCommand {
    carbon::UInt32 keyCode = 0;
    carbon::UInt32 modifiers = 0;
    HotKeyAction action;
};

} // namespace glimra::hotkeys
