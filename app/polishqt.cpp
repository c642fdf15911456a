// SPDX-License-Identifier: MIT
#include "polishqt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

void PolishQt::install(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_pl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
