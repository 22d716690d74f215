<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Localizable</name>
    <message>
        <source>%@ version %@ (%@)</source>
        <translation>%@ Version %@ (%@)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Capture</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Capture All Screens</source>
        <translation>Alle Bildschirme aufnehmen</translation>
    </message>
    <message>
        <source>Capture Full Screen</source>
        <translation>Vollbild aufnehmen</translation>
    </message>
    <message>
        <source>Capture Previous Area</source>
        <translation>Vorherigen Bereich aufnehmen</translation>
    </message>
    <message>
        <source>Capture Region</source>
        <translation>Bereich aufnehmen</translation>
    </message>
    <message>
        <source>Capture Region with Timer</source>
        <translation>Bereich mit Selbstauslöser aufnehmen</translation>
    </message>
    <message>
        <source>Fullscreen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Fullscreen %@</source>
        <translation>Vollbild %@</translation>
    </message>
    <message>
        <source>Glimra Helper</source>
        <translation>Glimra Helper</translation>
    </message>
    <message>
        <source>Global hot keys</source>
        <translation>Globale Tastenkürzel</translation>
    </message>
    <message>
        <source>Global hot keys: %d of %d active</source>
        <translation>Globale Tastenkürzel: %d von %d aktiv</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Höhe</translation>
    </message>
    <message>
        <source>Path of the helper app:

%@</source>
        <translation>Pfad der Helfer-App:

%@</translation>
    </message>
    <message>
        <source>Quit Glimra and Helper</source>
        <translation>Glimra und Helfer beenden</translation>
    </message>
    <message>
        <source>Screenshot %@</source>
        <translation>Bildschirmfoto %@</translation>
    </message>
    <message>
        <source>Show Glimra</source>
        <translation>Glimra zeigen</translation>
    </message>
    <message>
        <source>Timer</source>
        <translation>Selbstauslöser</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source>Lock Aspect Ratio</source>
        <translation>Seitenverhältnis sperren</translation>
    </message>
</context>
</TS>
