#include "windowfixture.h"

#include <QMessageBox>

// Opening the port at start, reporting errors, painting the line boxes,
// closing the port at unload, and a port that fails while open.
class TestPortConnection : public QObject
{
    Q_OBJECT

private:
    static const QStringList &openingSteps()
    {
        static const QStringList steps = {"CommPort=2", "Settings=9600,N,8,1", "RThreshold=1",
                                          "PortOpen=true", "Output=AT\\r"};
        return steps;
    }

private Q_SLOTS:
    void successfulStartGreetsOnceAndPaintsAllBoxes()
    {
        WindowFixture f;
        f.comm->setLines(/*cd*/ true, /*cts*/ false, /*dsr*/ true);
        f.comm->CommControl::setRTSEnable(true);
        f.comm->clearLog();

        f.start();
        QCOMPARE(f.window->PortComNR, quint8(2));
        QCOMPARE(f.comm->log(), openingSteps() + QStringList({"DSRHolding", "CTSHolding", "CDHolding"}));
        QCOMPARE(f.comm->writes(), QList<QByteArray>{"AT\r"});
        QCOMPARE(f.box("PicCD")->colour(), red());
        QCOMPARE(f.box("PicCTS")->colour(), green());
        QCOMPARE(f.box("PicDSR")->colour(), red());
        QCOMPARE(f.box("PicDTR")->colour(), green());
        QCOMPARE(f.box("PicRTS")->colour(), red());
        QCOMPARE(f.boxes.count(), 0);
        QCOMPARE(f.text1()->text(), QString());
    }

    // The warning comes before the window; nothing after the failed step runs.
    void missingPortWarnsWithItsNumber_data()
    {
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QString() << QStringLiteral("Nie mogę otworzyć portu COM 2");
        QTest::newRow("with the system's reason")
            << QStringLiteral("/dev/ttyS1: No such file or directory")
            << QStringLiteral("Nie mogę otworzyć portu COM 2\n/dev/ttyS1: No such file or directory");
    }

    void missingPortWarnsWithItsNumber()
    {
        QFETCH(QString, detail);
        QFETCH(QString, text);
        WindowFixture f;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound, detail));
        f.window->Form_Load();
        QCOMPARE(f.boxes.count(), 1);
        const ModalWatcher::Box box = f.boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!box.hadVisibleParent);

        QCOMPARE(f.comm->log(), openingSteps().mid(0, 4));
        QVERIFY(f.comm->writes().isEmpty());
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"})
            QVERIFY2(!f.box(name)->isPainted(), name);

        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        // The failed opening is not reported again when the window closes.
        f.window->close();
        QCOMPARE(f.boxes.count(), 1);
    }

    void otherErrorsShowNumberAndDescription_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stepsRun");
        QTest::newRow("port in use") << int(FakeComm::OpenPort) << 8003 << QStringLiteral("Zajęty")
                                     << QStringLiteral("Nieznany błąd nr 8003 Zajęty") << 4;
        QTest::newRow("settings") << int(FakeComm::SetSettings) << 380 << QStringLiteral("Zła wartość")
                                  << QStringLiteral("Nieznany błąd nr 380 Zła wartość") << 2;
        QTest::newRow("greeting") << int(FakeComm::SetOutput) << 8020 << QStringLiteral("Zapis")
                                  << QStringLiteral("Nieznany błąd nr 8020 Zapis") << 5;
        QTest::newRow("negative") << int(FakeComm::OpenPort) << -7 << QStringLiteral("D")
                                  << QStringLiteral("Nieznany błąd nr-7 D") << 4;
        QTest::newRow("zero-length description") << int(FakeComm::OpenPort) << 1 << QString()
                                                 << QStringLiteral("Nieznany błąd nr 1 ") << 4;
    }

    void otherErrorsShowNumberAndDescription()
    {
        QFETCH(int, step);
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, text);
        QFETCH(int, stepsRun);
        WindowFixture f;
        f.comm->failOn(FakeComm::Operation(step), CommError(number, description));
        f.window->Form_Load();
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(f.boxes.boxes().first().text, text);
        QCOMPARE(f.comm->log(), openingSteps().mid(0, stepsRun));
        QVERIFY(!f.box("PicCD")->isPainted());
    }

    void unloadClosesThePortSilently()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        QVERIFY(f.window->close());
        QCOMPARE(f.comm->log(), QStringList{"PortOpen=false"});
        QVERIFY(!f.comm->PortOpen());
        QCOMPARE(f.boxes.count(), 0);
        QVERIFY(!f.window->isVisible());
    }

    void failedCloseIsShownAndTheWindowClosesAnyway()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure, QStringLiteral("EIO")));
        QVERIFY(f.window->close());
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().text,
                 QStringLiteral("Nieznany błąd nr 8099 ") + CommError::describe(8099)
                     + QStringLiteral("\nEIO"));
        QVERIFY(!f.window->isVisible());
    }

    // A device that goes away is reported once, after the control finished
    // reporting it; the terminal then goes on without a port.
    void lostPortIsReportedOnce()
    {
        WindowFixture f;
        f.start();
        f.comm->fail(CommError(CommError::DeviceLost, QStringLiteral("/dev/ttyUSB0: hang-up")));
        QCOMPARE(f.boxes.count(), 0);
        QTRY_COMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().text,
                 QStringLiteral("Nieznany błąd nr 8022 ") + CommError::describe(8022)
                     + QStringLiteral("\n/dev/ttyUSB0: hang-up"));
        QVERIFY(f.boxes.boxes().first().hadVisibleParent);

        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.boxes.count(), 2);
        QVERIFY(f.window->close());
        QCOMPARE(f.boxes.count(), 2);
    }
};

QTEST_MAIN(TestPortConnection)
#include "tst_portconnection.moc"
