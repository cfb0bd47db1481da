#pragma once
// Gives a window's components the texts of a language file: the main window and the search
// dialog alike. Components are found by objectName without regard to case; an action takes the
// text as its caption (every menu entry and button bound to it follows), a label, button, check
// box or group box as its caption, a page as its tab's text, an edit box as its contents. Other
// components, and names no component has, change nothing.
//
// Threading: main thread only.
#include <QString>

#include "model/mp3languages.h"

class QWidget;

// Applies the file through the session's language reader; raises TLanguageFileError when the file
// cannot be read, before any text changed.
void SetLanguage(QWidget* Sender, const QString& _Language);
// Applies entries in order, so a later entry for the same component wins.
void ApplyLanguageEntries(QWidget* target, const TMp3LanguageEntries& entries);
