// SPDX-License-Identifier: MIT
#pragma once

class QString;
class QWidget;

// The program's one kind of warning: a modal box titled "Ostrzeżenie" with the
// warning icon and an OK button alone. The text is plain text; a word too wide
// for any box (a host name of hundreds of characters) may break anywhere, so
// the text always wraps inside. Returns when the user closed the box; without
// an owner it stands on its own (before the main window is shown).
namespace WarningBox {
void show(QWidget *owner, const QString &text);
}
