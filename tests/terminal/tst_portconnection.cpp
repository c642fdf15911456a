#include "windowfixture.h"

#include <QMessageBox>

Q_DECLARE_METATYPE(CommError)

// Opening the port at start, reporting errors, painting the line boxes,
// closing the port at unload, and a port that fails while open.
class TestPortConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void successfulStartGreetsOnceAndPaintsAllBoxes()
    {
        WindowFixture f;
        f.comm->setLines(/*cd*/ true, /*cts*/ false, /*dsr*/ true);
        f.comm->CommControl::setDTREnable(false);
        f.comm->clearLog();
        f.start();
        QCOMPARE(f.window->PortComNR, quint8(2));
        QCOMPARE(f.comm->log(), openingSteps(2));
        QCOMPARE(f.comm->writes(), QList<QByteArray>{"AT\r"});
        QCOMPARE(f.colours(), (QList<QColor>{red, green, red, red, green}));
        QCOMPARE(f.boxes.count(), 0);
        QCOMPARE(f.text1()->text(), QString());
    }

    // The warning comes before the window; nothing after the failed step runs,
    // and it is not reported again when the window closes.
    void failedOpeningWarnsBeforeTheWindow_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<CommError>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stepsRun");
        QTest::newRow("missing port") << int(FakeComm::OpenPort) << CommError(CommError::PortNotFound)
                                      << QStringLiteral("Nie mogę otworzyć portu COM 2") << 4;
        QTest::newRow("missing port, with the system's reason")
            << int(FakeComm::OpenPort) << CommError(CommError::PortNotFound, u"/dev/ttyS1: ENOENT"_qs)
            << QStringLiteral("Nie mogę otworzyć portu COM 2\n/dev/ttyS1: ENOENT") << 4;
        QTest::newRow("port in use") << int(FakeComm::OpenPort) << CommError(8003, u"Zajęty"_qs)
                                     << QStringLiteral("Nieznany błąd nr 8003 Zajęty") << 4;
        QTest::newRow("settings") << int(FakeComm::SetSettings) << CommError(380, u"Zła wartość"_qs)
                                  << QStringLiteral("Nieznany błąd nr 380 Zła wartość") << 2;
        QTest::newRow("greeting") << int(FakeComm::SetOutput) << CommError(8020, u"Zapis"_qs)
                                  << QStringLiteral("Nieznany błąd nr 8020 Zapis") << 5;
        QTest::newRow("negative") << int(FakeComm::OpenPort) << CommError(-7, u"D"_qs)
                                  << QStringLiteral("Nieznany błąd nr-7 D") << 4;
        QTest::newRow("no description") << int(FakeComm::OpenPort) << CommError(1, QString())
                                        << QStringLiteral("Nieznany błąd nr 1 ") << 4;
    }

    void failedOpeningWarnsBeforeTheWindow()
    {
        QFETCH(int, step);
        QFETCH(CommError, error);
        QFETCH(QString, text);
        QFETCH(int, stepsRun);
        WindowFixture f;
        f.comm->failOn(FakeComm::Operation(step), error);
        f.window->Form_Load();
        QCOMPARE(f.boxes.count(), 1);
        const ModalWatcher::Box box = f.boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!box.hadVisibleParent);
        QCOMPARE(f.comm->log(), openingSteps(2).mid(0, stepsRun));
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"})
            QVERIFY2(!f.box(name)->isPainted(), name);

        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QVERIFY(f.window->close());
        QCOMPARE(f.boxes.count(), 1);
    }

    void unloadClosesThePort_data()
    {
        QTest::addColumn<bool>("closeFails");
        QTest::newRow("silently") << false;
        QTest::newRow("a failed close is shown") << true;
    }

    void unloadClosesThePort()
    {
        QFETCH(bool, closeFails);
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        if (closeFails)
            f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure, u"EIO"_qs));
        QVERIFY(f.window->close());
        QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"});
        QCOMPARE(f.boxes.texts(), closeFails ? QStringList{warningText(CommError::UnknownFailure, u"EIO"_qs)}
                                             : QStringList());
        QVERIFY(!f.window->isVisible());
    }

    // A device that goes away is reported once, after the control finished
    // reporting it; the terminal then goes on without a port.
    void lostPortIsReportedOnce()
    {
        WindowFixture f;
        f.start();
        f.comm->fail(CommError(CommError::DeviceLost, u"/dev/ttyUSB0: hang-up"_qs));
        QCOMPARE(f.boxes.count(), 0);
        QCOMPARE(f.colours(), QList<QColor>(5)); // no port, no lines
        QTRY_COMPARE(f.boxes.texts(), QStringList{warningText(CommError::DeviceLost, u"/dev/ttyUSB0: hang-up"_qs)});
        QVERIFY(f.boxes.boxes().first().hadVisibleParent);
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.boxes.count(), 2);
        QVERIFY(f.window->close());
        QCOMPARE(f.boxes.count(), 2);
    }
};

QTEST_MAIN(TestPortConnection)
#include "tst_portconnection.moc"
