#include "setcom.h"
#include "windowfixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

// The four menu commands, and a port chosen in the settings dialog being
// applied to the terminal.
class TestMenuCommands : public QObject
{
    Q_OBJECT

private:
    static QAction *action(const WindowFixture &f, const QString &name)
    {
        return f.window->findChild<QAction *>(name);
    }

    // Runs "Portu" with `answer` working the dialog once it is up.
    static void choosePort(WindowFixture &f, const std::function<void(SetCOM *)> &answer)
    {
        f.boxes.setDialogHandler([answer](QWidget *w) {
            auto *dialog = qobject_cast<SetCOM *>(w);
            QVERIFY(dialog);
            answer(dialog);
        });
        action(f, QStringLiteral("mnuSetPort"))->trigger();
        QVERIFY(!QApplication::activeModalWidget());
    }

    static void click(SetCOM *dialog, const char *button)
    {
        auto *b = dialog->findChild<QAbstractButton *>(QLatin1String(button));
        QVERIFY2(b, button);
        b->click();
    }

    static const QStringList &openingSteps(int port)
    {
        static QStringList steps;
        steps = QStringList{QStringLiteral("CommPort=%1").arg(port), "Settings=9600,N,8,1",
                            "RThreshold=1", "PortOpen=true", "Output=AT\\r", "DSRHolding",
                            "CTSHolding", "CDHolding"};
        return steps;
    }

private Q_SLOTS:
    void modemuSendsFiveBytesInOneWrite()
    {
        WindowFixture f;
        f.start();
        f.comm->receive("OK\r\n");
        f.comm->clearLog();
        action(f, QStringLiteral("mnuSetMod"))->trigger();
        QCOMPARE(f.comm->log(), QStringList{"Output=AT&V\\r"});
        QCOMPARE(f.comm->writes().last(), QByteArray("AT&V\r"));
        QCOMPARE(f.comm->writes().last().size(), 5);
        QCOMPARE(f.text1()->text(), QStringLiteral("OK\n"));
        QCOMPARE(f.boxes.count(), 0);
    }

    void modemuOnAClosedPortOnlyWarns()
    {
        WindowFixture f;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        f.start();
        f.boxes.clear();
        action(f, QStringLiteral("mnuSetMod"))->trigger();
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().text,
                 QStringLiteral("Nieznany błąd nr 8012 ") + CommError::describe(8012));
        QVERIFY(f.comm->writes().isEmpty());
    }

    void aboutShowsItsBox()
    {
        WindowFixture f;
        f.start();
        action(f, QStringLiteral("mnuAbout"))->trigger();
        QCOMPARE(f.boxes.count(), 1);
        const ModalWatcher::Box box = f.boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("About"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QStringList lines = box.text.split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Solvane"));
        QVERIFY(lines[1].contains(QStringLiteral("modemterm " MODEMTERM_VERSION)));
    }

    // "Wyjdź" unloads the window (closing the port) and then asks the program to end.
    void wyjdzClosesThePortAndEndsTheProgram()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        QSignalSpy end(f.window.get(), &OknoTerma::programEndRequested);
        connect(f.window.get(), &OknoTerma::programEndRequested, f.comm, [&f] {
            QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"}); // unloaded first
        });
        action(f, QStringLiteral("mnuWyjdź"))->trigger();
        QCOMPARE(end.count(), 1);
        QCOMPARE(end.first().first().toInt(), 0);
        QVERIFY(!f.window->isVisible());
        QVERIFY(!f.comm->PortOpen());
        QCOMPARE(f.boxes.count(), 0);
    }

    void wyjdzReportsAFailedCloseAndStillEnds()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure));
        QSignalSpy end(f.window.get(), &OknoTerma::programEndRequested);
        action(f, QStringLiteral("mnuWyjdź"))->trigger();
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(end.count(), 1);
    }

    // The dialog starts from the window's port, is modal, and the clock ticks on.
    void portuIsModalAndTheClockTicks()
    {
        WindowFixture f;
        f.start();
        QLabel *zegar = f.label("Zegar");
        QTRY_VERIFY(zegar->text() != QStringLiteral("Label2"));
        bool checked = false;
        choosePort(f, [&](SetCOM *dialog) {
            QVERIFY(dialog->isModal() || dialog->windowModality() == Qt::ApplicationModal);
            QCOMPARE(dialog->parentWidget(), nullptr);
            QCOMPARE(dialog->PortComNR(), quint8(2));
            QVERIFY(dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM2"))->isChecked());
            QVERIFY(QApplication::activeModalWidget() == dialog);
            const QString before = zegar->text();
            QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != before, 3000);
            checked = true;
            click(dialog, "cmdAnuluj");
        });
        QVERIFY(checked);
        QCOMPARE(f.boxes.dialogsSeen(), 1);
    }

    void choosingAnotherPortSwitchesAndGreets()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        choosePort(f, [](SetCOM *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM3"))->click();
            click(dialog, "cmdZastosuj");
        });
        QCOMPARE(f.window->PortComNR, quint8(3));
        QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"} + openingSteps(3));
        QCOMPARE(f.comm->writes(), (QList<QByteArray>{"AT\r", "AT\r"}));
        QCOMPARE(f.boxes.count(), 0);

        // A typed number, through "Zapisz".
        f.comm->clearLog();
        choosePort(f, [](SetCOM *dialog) {
            auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("txtNRcom"));
            field->setText(QStringLiteral("17"));
            click(dialog, "cmdZapisz");
        });
        QCOMPARE(f.window->PortComNR, quint8(17));
        QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"} + openingSteps(17));
    }

    void theSameOpenPortIsLeftAlone()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        choosePort(f, [](SetCOM *dialog) { click(dialog, "cmdZapisz"); });
        QCOMPARE(f.window->PortComNR, quint8(2));
        QVERIFY(f.comm->log().isEmpty());
    }

    // After a failed opening the same number is tried again.
    void theSamePortIsReopenedWhenClosed()
    {
        WindowFixture f;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortInUse));
        f.start();
        QCOMPARE(f.boxes.count(), 1);
        f.comm->clearLog();
        choosePort(f, [](SetCOM *dialog) { click(dialog, "cmdZastosuj"); });
        QCOMPARE(f.comm->log(), openingSteps(2));
        QVERIFY(f.comm->PortOpen());
        QCOMPARE(f.boxes.count(), 1);
    }

    void cancellingChangesNothing()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        choosePort(f, [](SetCOM *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM4"))->click();
            click(dialog, "cmdAnuluj");
        });
        choosePort(f, [](SetCOM *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM4"))->click();
            dialog->close(); // the title bar's close button
        });
        QCOMPARE(f.window->PortComNR, quint8(2));
        QVERIFY(f.comm->log().isEmpty());
        QCOMPARE(f.boxes.dialogsSeen(), 2);
    }

    // An out-of-range number keeps the dialog open; the window stays as it was.
    void outOfRangeKeepsTheDialogOpen()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        bool stayedOpen = false;
        choosePort(f, [&](SetCOM *dialog) {
            auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("txtNRcom"));
            field->setText(QStringLiteral("100"));
            click(dialog, "cmdZapisz");
            stayedOpen = dialog->isVisible();
            click(dialog, "cmdAnuluj");
        });
        QVERIFY(stayedOpen);
        QVERIFY(f.boxes.count() >= 1);
        QCOMPARE(f.boxes.boxes().last().text, QStringLiteral("Zły zakres wartości"));
        QCOMPARE(f.window->PortComNR, quint8(2));
        QVERIFY(f.comm->log().isEmpty());
    }

    void unopenablePortWarnsWithTheChosenNumber()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        choosePort(f, [](SetCOM *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM4"))->click();
            click(dialog, "cmdZastosuj");
        });
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(f.boxes.boxes().first().text, QStringLiteral("Nie mogę otworzyć portu COM 4"));
        QCOMPARE(f.window->PortComNR, quint8(4));
        QVERIFY(!f.comm->PortOpen());
        QCOMPARE(f.comm->writes().size(), 1);
    }

    // The old port cannot be closed: reported as at unload, the new one still opens.
    void failedCloseOfTheOldPortIsReported()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure));
        choosePort(f, [](SetCOM *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("SetCOM1"))->click();
            click(dialog, "cmdZastosuj");
        });
        QCOMPARE(f.boxes.count(), 2); // the close failed; the port was still open for the next step
        QCOMPARE(f.boxes.boxes().first().text,
                 QStringLiteral("Nieznany błąd nr 8099 ") + CommError::describe(8099));
    }
};

QTEST_MAIN(TestMenuCommands)
#include "tst_menucommands.moc"
