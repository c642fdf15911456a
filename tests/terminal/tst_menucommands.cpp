#include "setcom.h"
#include "windowfixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

// The four menu commands, and a port chosen in the settings dialog being
// applied to the terminal.
class TestMenuCommands : public QObject
{
    Q_OBJECT

private:
    // Runs "Portu" with `answer` working the dialog once it is up.
    static void choosePort(WindowFixture &f, const std::function<void(SetCOM *)> &answer)
    {
        f.boxes.setDialogHandler([answer](QWidget *w) {
            auto *dialog = qobject_cast<SetCOM *>(w);
            QVERIFY(dialog);
            answer(dialog);
        });
        f.trigger("mnuSetPort");
        QVERIFY(!QApplication::activeModalWidget());
    }

    static void click(SetCOM *dialog, const QString &name)
    {
        auto *b = dialog->findChild<QAbstractButton *>(name);
        QVERIFY2(b, qPrintable(name));
        b->click();
    }

private Q_SLOTS:
    void modemuSendsFiveBytesInOneWrite_data()
    {
        QTest::addColumn<bool>("portOpens");
        QTest::newRow("open port") << true;
        QTest::newRow("closed port only warns") << false;
    }

    void modemuSendsFiveBytesInOneWrite()
    {
        QFETCH(bool, portOpens);
        WindowFixture f;
        if (!portOpens)
            f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        f.start();
        f.comm->receive("OK\r\n");
        f.comm->clearLog();
        f.boxes.clear();
        f.trigger("mnuSetMod");
        QCOMPARE(f.comm->log(), QStringList{"Output=AT&V\\r"});
        QCOMPARE(f.comm->writes(), portOpens ? (QList<QByteArray>{"AT\r", "AT&V\r"}) : QList<QByteArray>());
        QCOMPARE(f.boxes.texts(), portOpens ? QStringList() : QStringList{warningText(CommError::PortNotOpen)});
    }

    void aboutShowsItsBox()
    {
        WindowFixture f;
        f.start();
        f.trigger("mnuAbout");
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

    // "Wyjdź" unloads the window (closing the port, reporting a failure) and
    // then asks the program to end.
    void wyjdzClosesThePortAndEndsTheProgram_data()
    {
        QTest::addColumn<bool>("closeFails");
        QTest::newRow("closes") << false;
        QTest::newRow("close fails") << true;
    }

    void wyjdzClosesThePortAndEndsTheProgram()
    {
        QFETCH(bool, closeFails);
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        if (closeFails)
            f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure));
        QSignalSpy end(f.window.get(), &OknoTerma::programEndRequested);
        connect(f.window.get(), &OknoTerma::programEndRequested, f.comm, [&f, closeFails] {
            QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"}); // unloaded first
            QCOMPARE(f.boxes.count(), closeFails ? 1 : 0);
        });
        f.trigger("mnuWyjdź");
        QCOMPARE(end.count(), 1);
        QCOMPARE(end.first().first().toInt(), 0);
        QVERIFY(!f.window->isVisible());
        QCOMPARE(f.comm->PortOpen(), closeFails);
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
            click(dialog, u"cmdAnuluj"_qs);
        });
        QVERIFY(checked);
        QCOMPARE(f.boxes.dialogsSeen(), 1);
    }

    void choosingAPort_data()
    {
        QTest::addColumn<int>("failAtStart");  // the operation that fails once at start, or -1
        QTest::addColumn<int>("failOnApply");  // the same, when the choice is applied
        QTest::addColumn<QString>("choice");   // an option's name, a number to type, or nothing
        QTest::addColumn<QString>("button");   // empty: the title bar's close
        QTest::addColumn<bool>("staysOpen");   // until "Anuluj"
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("warnings");
        const QStringList none;
        const QStringList close{u"PortOpen=false"_qs};
        QTest::newRow("another option, Zastosuj") << -1 << -1 << "SetCOM3" << "cmdZastosuj" << false << 3
                                                  << close + openingSteps(3) << none;
        QTest::newRow("typed number, Zapisz") << -1 << -1 << "17" << "cmdZapisz" << false << 17
                                              << close + openingSteps(17) << none;
        QTest::newRow("the same open port is left alone") << -1 << -1 << "" << "cmdZapisz" << false << 2
                                                          << none << none;
        QTest::newRow("the same port is tried again after a failed opening")
            << int(FakeComm::OpenPort) << -1 << "" << "cmdZastosuj" << false << 2 << openingSteps(2) << none;
        QTest::newRow("Anuluj") << -1 << -1 << "SetCOM4" << "cmdAnuluj" << false << 2 << none << none;
        QTest::newRow("title bar close") << -1 << -1 << "SetCOM4" << "" << false << 2 << none << none;
        QTest::newRow("out of range") << -1 << -1 << "100" << "cmdZapisz" << true << 2 << none
                                      << QStringList{"Zły zakres wartości", "Zły zakres wartości"};
        QTest::newRow("unopenable port") << -1 << int(FakeComm::OpenPort) << "SetCOM4" << "cmdZastosuj" << false
                                         << 4 << close + openingSteps(4).mid(0, 4)
                                         << QStringList{"Nie mogę otworzyć portu COM 4"};
        // Reported as at unload; the number cannot change while the old port is open.
        QTest::newRow("old port will not close")
            << -1 << int(FakeComm::ClosePort) << "SetCOM1" << "cmdZastosuj" << false << 1
            << close + openingSteps(1).mid(0, 1)
            << QStringList{warningText(CommError::UnknownFailure), warningText(CommError::PortAlreadyOpen)};
    }

    void choosingAPort()
    {
        QFETCH(int, failAtStart);
        QFETCH(int, failOnApply);
        QFETCH(QString, choice);
        QFETCH(QString, button);
        QFETCH(bool, staysOpen);
        QFETCH(int, port);
        QFETCH(QStringList, log);
        QFETCH(QStringList, warnings);
        WindowFixture f;
        if (failAtStart >= 0)
            f.comm->failOn(FakeComm::Operation(failAtStart), CommError(CommError::PortInUse));
        f.start();
        f.comm->clearLog();
        f.boxes.clear();
        if (failOnApply >= 0)
            f.comm->failOn(FakeComm::Operation(failOnApply), failOnApply == FakeComm::OpenPort
                                                                 ? CommError(CommError::PortNotFound)
                                                                 : CommError(CommError::UnknownFailure));
        bool stayedOpen = false;
        choosePort(f, [&](SetCOM *dialog) {
            if (choice.startsWith(u"SetCOM"))
                dialog->findChild<QRadioButton *>(choice)->click();
            else if (!choice.isEmpty())
                dialog->findChild<QLineEdit *>(QStringLiteral("txtNRcom"))->setText(choice);
            if (button.isEmpty())
                dialog->close();
            else
                click(dialog, button);
            stayedOpen = dialog->isVisible();
            if (stayedOpen)
                click(dialog, u"cmdAnuluj"_qs);
        });
        QCOMPARE(stayedOpen, staysOpen);
        QCOMPARE(f.window->PortComNR, quint8(port));
        QCOMPARE(f.comm->log(), log);
        QCOMPARE(f.boxes.texts(), warnings);
        QCOMPARE(f.comm->PortOpen(), failOnApply != FakeComm::OpenPort);
        if (!f.comm->PortOpen())
            QCOMPARE(f.colours(), QList<QColor>(5)); // a failed switch shows no lines
        if (log.contains(u"Output=AT\\r"_qs))
            QCOMPARE(f.comm->writes().last(), QByteArray("AT\r"));
    }
};

QTEST_MAIN(TestMenuCommands)
#include "tst_menucommands.moc"
