#include "timeofday.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QMenuBar>

// What a screen reader announces for the control.
QString accessibleName(QWidget *w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

// The window as described: its controls and places, the layout on resize, the
// clock, the focus order, the menus.
class TestWindowLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storedDescription()
    {
        WindowFixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Terminal"));
        QCOMPARE(f.window->PortComNR, quint8(0));
        // Name, place (twips / 15) and caption of the controls that keep their place.
        const QList<std::tuple<const char *, QRect, QString>> fixed = {
            {"PicCD", {32, 0, 41, 17}, {}},   {"Label1", {80, 0, 25, 17}, "CD"},
            {"PicCTS", {128, 0, 33, 17}, {}}, {"Label2", {176, 0, 33, 17}, "CTS"},
            {"PicDSR", {224, 0, 25, 17}, {}}, {"Label4", {256, 0, 49, 17}, "DSR"},
            {"PicRTS", {304, 0, 25, 17}, {}}, {"Label5", {328, 0, 41, 17}, "RTS"},
            {"PicDTR", {376, 0, 25, 17}, {}}, {"Label3", {400, 0, 49, 17}, "DTR"},
        };
        for (const auto &[name, rect, caption] : fixed) {
            QWidget *w = f.window->findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(w, name);
            QCOMPARE(w->geometry(), rect);
            if (auto *indicator = qobject_cast<Indicator *>(w))
                QVERIFY2(!indicator->isPainted(), name);
            else
                QCOMPARE(f.label(name)->text(), caption);
        }
        for (QWidget *w : f.client()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QVERIFY2(!accessibleName(w).isEmpty(), qPrintable(w->objectName()));
        QCOMPARE(f.label("Zegar")->text(), QStringLiteral("Label2"));
        const QFont font = f.text1()->font();
        QCOMPARE(font.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(font.pointSizeF(), 8.25);
        QCOMPARE(font.weight(), QFont::Normal);
        QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());

        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QCOMPARE(f.client()->size(), QSize(619, 486)); // 9285 x 7290 twips
    }

    void layoutFollowsTheClientArea_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("text1");
        QTest::addColumn<QRect>("zegar");
        QTest::newRow("stored size") << QSize(619, 486) << QRect(0, 17, 619, 472) << QRect(566, 0, 592, 33);
        // The clock's right edge meets the client's right edge.
        QTest::newRow("width 1200") << QSize(80, 300) << QRect(0, 17, 80, 286) << QRect(27, 0, 53, 33);
        // The clock starts left of the client area (left -200).
        QTest::newRow("width 600") << QSize(40, 300) << QRect(0, 17, 40, 286) << QRect(-13, 0, 13, 33);
        // Around 200 twips high the text area has no height left.
        QTest::newRow("height 195") << QSize(619, 13) << QRect(0, 17, 619, 0) << QRect(566, 0, 592, 33);
        QTest::newRow("height 210") << QSize(619, 14) << QRect(0, 17, 619, 0) << QRect(566, 0, 592, 33);
        // Minimised: negative sizes become 0, the clock's left is -400.
        QTest::newRow("0 x 0") << QSize(0, 0) << QRect(0, 17, 0, 0) << QRect(-27, 0, 0, 33);
    }

    void layoutFollowsTheClientArea()
    {
        QFETCH(QSize, client);
        QFETCH(QRect, text1);
        QFETCH(QRect, zegar);
        WindowFixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        const int menu = f.window->height() - f.client()->height();
        const QList<QWidget *> fixed = f.client()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        QList<QRect> fixedBefore;
        for (QWidget *w : fixed)
            fixedBefore.append(w->geometry());
        f.client()->resize(client);
        QCOMPARE(f.text1()->geometry(), text1);
        QCOMPARE(f.label("Zegar")->geometry(), zegar);
        for (qsizetype i = 0; i < fixed.size(); ++i) {
            if (fixed[i] != f.text1() && fixed[i] != f.label("Zegar"))
                QCOMPARE(fixed[i]->geometry(), fixedBefore[i]);
        }

        // Through the real window border: the client area is below the menu bar.
        f.window->resize(800, 300 + menu);
        QTRY_COMPARE(f.client()->size(), QSize(800, 300));
        QCOMPARE(f.text1()->geometry(), QRect(0, 17, 800, 286));
        QCOMPARE(f.label("Zegar")->x(), qRound((12000 - 800) / 15.0));
    }

    void clockShowsTheTimeOfDay()
    {
        WindowFixture f;
        QLabel *zegar = f.label("Zegar");
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != QStringLiteral("Label2"), 3000);
        const QTime shown = QLocale::system().toTime(zegar->text(), TimeOfDay::format(QLocale::system()));
        QVERIFY2(shown.isValid(), qPrintable(zegar->text()));
        const int off = qAbs(shown.secsTo(QTime::currentTime()));
        QVERIFY(off <= 2 || off >= 86400 - 2);
        const QString first = zegar->text();
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != first, 3000);

        // Seconds, as the long format has, but no time zone, in any locale.
        for (const char *name : {"pl_PL", "en_US", "de_DE", "C"}) {
            const QLocale l(QString::fromLatin1(name));
            const QString format = TimeOfDay::format(l);
            QVERIFY2(!format.contains(u't') && format.contains(u's'), qPrintable(format));
            const QString text = TimeOfDay::text(QTime(14, 5, 9), l);
            QVERIFY2(text.contains(u"05") && text.contains(u"09"), qPrintable(text));
        }
        QCOMPARE(TimeOfDay::text(QTime(14, 5, 9), QLocale(u"pl_PL"_qs)), QStringLiteral("14:05:09"));
    }

    void focusStartsInText1AndFollowsTheTabOrder()
    {
        WindowFixture f;
        f.start();
        QCOMPARE(f.window->focusWidget(), f.text1());
        QStringList order;
        QWidget *w = f.text1();
        do {
            if (w->focusPolicy() & Qt::TabFocus && w->isVisible() && w->isEnabled())
                order.append(w->objectName());
            w = w->nextInFocusChain();
        } while (w != f.text1());
        QCOMPARE(order, (QStringList{"Text1", "PicDSR", "PicCTS", "PicCD", "PicRTS", "PicDTR"}));
    }

    void menuTree()
    {
        WindowFixture f;
        QStringList tree;
        for (QAction *top : f.window->menuBar()->actions()) {
            tree.append(top->text());
            QVERIFY(top->menu());
            for (QAction *item : top->menu()->actions()) {
                tree.append(QStringLiteral("  ") + item->text());
                QVERIFY(item->shortcut().isEmpty() && !item->isCheckable() && !item->isSeparator());
            }
        }
        QCOMPARE(tree, (QStringList{"&Plik", "  &About", "  &Wyjdź", "&Ustawienia", "  Portu", "  Modemu"}));
    }

    // A screen reader can tell the line states and the time.
    void accessibleStates()
    {
        WindowFixture f;
        QCOMPARE(f.box("PicDTR")->accessibleName(), QStringLiteral("DTR"));
        QTRY_VERIFY(f.label("Zegar")->text() != QStringLiteral("Label2"));
        QCOMPARE(accessibleName(f.label("Zegar")), f.label("Zegar")->text());
        f.comm->setLines(true, false, true);
        f.start();
        QCOMPARE(f.box("PicCD")->accessibleDescription(), QStringLiteral("aktywna"));
        QCOMPARE(f.box("PicCTS")->accessibleDescription(), QStringLiteral("nieaktywna"));
        QCOMPARE(f.box("PicDTR")->accessibleDescription(), QStringLiteral("aktywna"));
        f.click("PicDTR");
        QCOMPARE(f.box("PicDTR")->accessibleDescription(), QStringLiteral("nieaktywna"));
    }
};

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
