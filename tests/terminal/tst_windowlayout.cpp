#include "timeofday.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QMenuBar>
#include <QRegularExpression>

// The window as described: its controls and places, the layout on resize, the
// clock, the focus order, the menus.
class TestWindowLayout : public QObject
{
    Q_OBJECT

private:
    // Client sizes in twips; the form keeps 15 twips to a pixel.
    static void resizeClient(WindowFixture &f, int widthPx, int heightPx)
    {
        f.client()->resize(widthPx, heightPx);
        QCOMPARE(f.client()->size(), QSize(widthPx, heightPx));
    }

private Q_SLOTS:
    void storedDescription()
    {
        WindowFixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Terminal"));
        QCOMPARE(f.window->PortComNR, quint8(0));
        // Controls that keep their stored places at every size: twips / 15.
        const QList<std::pair<const char *, QRect>> fixed = {
            {"PicCD", {32, 0, 41, 17}},   {"Label1", {80, 0, 25, 17}},
            {"PicCTS", {128, 0, 33, 17}}, {"Label2", {176, 0, 33, 17}},
            {"PicDSR", {224, 0, 25, 17}}, {"Label4", {256, 0, 49, 17}},
            {"PicRTS", {304, 0, 25, 17}}, {"Label5", {328, 0, 41, 17}},
            {"PicDTR", {376, 0, 25, 17}}, {"Label3", {400, 0, 49, 17}},
        };
        for (const auto &[name, rect] : fixed) {
            QWidget *w = f.window->findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(w, name);
            QCOMPARE(w->geometry(), rect);
        }
        QCOMPARE(f.label("Label1")->text(), QStringLiteral("CD"));
        QCOMPARE(f.label("Label2")->text(), QStringLiteral("CTS"));
        QCOMPARE(f.label("Label4")->text(), QStringLiteral("DSR"));
        QCOMPARE(f.label("Label5")->text(), QStringLiteral("RTS"));
        QCOMPARE(f.label("Label3")->text(), QStringLiteral("DTR"));
        QCOMPARE(f.label("Zegar")->text(), QStringLiteral("Label2"));

        const QFont font = f.text1()->font();
        QCOMPARE(font.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(font.pointSizeF(), 8.25);
        QCOMPARE(font.weight(), QFont::Normal);
        QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());

        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"})
            QVERIFY2(!f.box(name)->isPainted(), name);
    }

    void showsAtStoredClientSizeAndLaysOut()
    {
        WindowFixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QCOMPARE(f.client()->size(), QSize(619, 486)); // 9285 x 7290 twips
        // Text1: left 0, top 250, width 9285, height 7090 (bottom at 7340).
        QCOMPARE(f.text1()->geometry(), QRect(QPoint(0, 17), QPoint(618, 488)));
        // Zegar: left 8485, top 0, width 8885; its height stays 495.
        QCOMPARE(f.label("Zegar")->geometry(), QRect(566, 0, 1158 - 566, 33));
    }

    void layoutFollowsTheClientArea_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("text1");
        QTest::addColumn<QRect>("zegar");
        // Width 1200 twips: the clock's right edge meets the client's right edge.
        QTest::newRow("width 1200") << QSize(80, 300) << QRect(0, 17, 80, 303 - 17)
                                    << QRect(27, 0, 80 - 27, 33);
        // Width 600: the clock starts left of the client area (left -200).
        QTest::newRow("width 600") << QSize(40, 300) << QRect(0, 17, 40, 303 - 17)
                                   << QRect(-13, 0, 13, 33);
        // Height 195 and 210 twips, around 200: the text area has no height left.
        QTest::newRow("height 195") << QSize(619, 13) << QRect(0, 17, 619, 0)
                                    << QRect(566, 0, 592, 33);
        QTest::newRow("height 210") << QSize(619, 14) << QRect(0, 17, 619, 0)
                                    << QRect(566, 0, 592, 33);
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
        QList<QRect> fixedBefore;
        const QList<QWidget *> fixed = {f.box("PicCD"),      f.box("PicCTS"),      f.box("PicDSR"),
                                        f.box("PicRTS"),     f.box("PicDTR"),      f.label("Label1"),
                                        f.label("Label2"),   f.label("Label3"),    f.label("Label4"),
                                        f.label("Label5")};
        for (QWidget *w : fixed)
            fixedBefore.append(w->geometry());

        resizeClient(f, client.width(), client.height());
        QCOMPARE(f.text1()->geometry(), text1);
        QCOMPARE(f.label("Zegar")->geometry(), zegar);
        for (qsizetype i = 0; i < fixed.size(); ++i)
            QCOMPARE(fixed[i]->geometry(), fixedBefore[i]);
    }

    // The real window border: resizing the window resizes the client area below
    // the menu bar and lays it out.
    void windowResizeLaysOut()
    {
        WindowFixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        const int menu = f.window->height() - f.client()->height();
        f.window->resize(800, 300 + menu);
        QTRY_COMPARE(f.client()->size(), QSize(800, 300));
        QCOMPARE(f.text1()->geometry(), QRect(0, 17, 800, 303 - 17));
        QCOMPARE(f.label("Zegar")->x(), qRound((12000 - 800) / 15.0));
    }

    void clockShowsTheTimeOfDay()
    {
        WindowFixture f;
        QLabel *zegar = f.label("Zegar");
        QCOMPARE(zegar->text(), QStringLiteral("Label2"));
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != QStringLiteral("Label2"), 3000);
        const QTime shown = QLocale::system().toTime(zegar->text(),
                                                     TimeOfDay::format(QLocale::system()));
        QVERIFY2(shown.isValid(), qPrintable(zegar->text()));
        QVERIFY(qAbs(shown.secsTo(QTime::currentTime())) <= 2
                || qAbs(shown.secsTo(QTime::currentTime())) >= 86400 - 2);
        // It keeps ticking: a later second shows a later caption.
        const QString first = zegar->text();
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != first, 3000);
    }

    void timeFormatHasNoZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("pl") << QStringLiteral("pl_PL");
        QTest::newRow("en_US") << QStringLiteral("en_US");
        QTest::newRow("de") << QStringLiteral("de_DE");
        QTest::newRow("C") << QStringLiteral("C");
    }

    void timeFormatHasNoZone()
    {
        QFETCH(QString, locale);
        const QLocale l(locale);
        const QString format = TimeOfDay::format(l);
        QVERIFY2(!format.contains(u't'), qPrintable(format));
        QVERIFY2(format.contains(u's'), qPrintable(format)); // seconds, as the long format has
        const QString text = TimeOfDay::text(QTime(14, 5, 9), l);
        QVERIFY2(text.contains(QStringLiteral("05")) && text.contains(QStringLiteral("09")),
                 qPrintable(text));
        if (locale == QStringLiteral("pl_PL"))
            QCOMPARE(text, QStringLiteral("14:05:09"));
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
        QCOMPARE(tree, (QStringList{"&Plik", "  &About", "  &Wyjdź", "&Ustawienia", "  Portu",
                                    "  Modemu"}));
    }

    // A screen reader can name every control and tell the line states.
    void accessibleNamesAndStates()
    {
        WindowFixture f;
        for (QWidget *w : f.client()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        QCOMPARE(f.box("PicDTR")->accessibleName(), QStringLiteral("DTR"));

        f.comm->setLines(true, false, true);
        f.start();
        QCOMPARE(f.box("PicCD")->accessibleDescription(), QStringLiteral("aktywna"));
        QCOMPARE(f.box("PicCTS")->accessibleDescription(), QStringLiteral("nieaktywna"));
        QTest::mouseClick(f.box("PicDTR"), Qt::LeftButton);
        const QString dtr = f.box("PicDTR")->accessibleDescription();
        QCOMPARE(dtr, f.comm->DTREnable() ? QStringLiteral("aktywna") : QStringLiteral("nieaktywna"));
    }
};

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
