// SPDX-License-Identifier: MIT
#pragma once

class QCoreApplication;

// Qt's own texts (standard buttons, file dialogs, --help of the command line
// parser) in Polish whatever the system's language, from Qt's translations
// (Debian's qt6-translations-l10n). Without them Qt speaks English as before.
namespace PolishQt {
void install(QCoreApplication &app);
}
