// The board's firmware on the emulated chip: the whole panel against it through the real
// serial layer, with what each step puts on the two output pins; and the line rules,
// spoken to the firmware directly.
#include "support/program.h"
#include "support/simboardprocess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int SearchTimeout = 6000; // first try after 2.5 s, then the reply
constexpr int PinTimeout = 1000;    // from the operator's click to the pins

// 16 MHz / 510 / N for the seven codes.
double frequencyOf(int code)
{
    static constexpr int Prescalers[] = {0, 1, 8, 32, 64, 128, 256, 1024};
    return 16e6 / 510.0 / Prescalers[code];
}

// What a pin should show: a frequency and a duty, or (hz 0) a constant level.
struct Expected {
    double hz;
    double duty;
};

bool shows(const SimBoardProcess::Pin &pin, Expected e)
{
    if (std::abs(pin.duty - e.duty) > 1.0)
        return false;
    return e.hz == 0 ? pin.hz == 0 : std::abs(pin.hz - e.hz) <= 0.005 * e.hz;
}

QString describe(const SimBoardProcess::Reading &r)
{
    return u"at %1 ms: PB3 %2 Hz %3 %, PD3 %4 Hz %5 %"_s.arg(r.ms)
        .arg(r.pin[0].hz, 0, 'f', 3)
        .arg(r.pin[0].duty, 0, 'f', 3)
        .arg(r.pin[1].hz, 0, 'f', 3)
        .arg(r.pin[1].duty, 0, 'f', 3);
}

} // namespace

Q_DECLARE_METATYPE(Expected)

class TestFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void foundAndReadBack();
    void presets_data();
    void presets();
    void typedSetpoints_data();
    void typedSetpoints();
    void frequencies_data();
    void frequencies();
    void lineRules_data();
    void lineRules();

private:
    const MainWindow::Ui &ui() const { return m_program->ui(); }
    int highlighted() const;
    // Waits for a reading newer than `from` that shows both expectations, at most until
    // PinTimeout after `clicked` started; prints it.
    void pinsShow(qsizetype from, const QElapsedTimer &clicked, Expected out1, Expected out2);

    QTemporaryDir m_dir;
    std::unique_ptr<SimBoardProcess> m_board;
    std::unique_ptr<Program> m_program;
};

void TestFirmware::initTestCase()
{
    // The test command installs the AVR toolchain and the emulator; without them this test
    // fails instead of passing unseen.
    const QString simboard = qEnvironmentVariable("PWM_SIMBOARD");
    const QString firmware = qEnvironmentVariable("PWM_FIRMWARE");
    QVERIFY2(QFileInfo(simboard).isExecutable(), "PWM_SIMBOARD names no simboard program");
    QVERIFY2(QFileInfo(firmware).isFile(), "PWM_FIRMWARE names no firmware image");

    QVERIFY(m_dir.isValid());
    QDir(m_dir.path()).mkpath(u"ports"_s);
    m_board = std::make_unique<SimBoardProcess>(m_dir.filePath(u"ports/com1"_s));
    QVERIFY2(m_board->started(), "simboard did not start");
    m_program = std::make_unique<Program>(m_dir.path(), u"pwmpanel"_s);
}

void TestFirmware::cleanupTestCase()
{
    m_program.reset();
    m_board.reset();
}

int TestFirmware::highlighted() const
{
    const QColor selected = QApplication::palette().color(QPalette::Highlight);
    int found = 0;
    for (int n = 1; n <= 7; ++n)
        if (ui().cmdFpwm[n]->palette().color(QPalette::Button) == selected)
            found = found ? -1 : n;
    return found;
}

void TestFirmware::pinsShow(qsizetype from, const QElapsedTimer &clicked, Expected out1,
                            Expected out2)
{
    const auto &readings = m_board->readings();
    const auto found = [&] {
        for (qsizetype i = from; i < readings.size(); ++i)
            if (shows(readings[i].pin[0], out1) && shows(readings[i].pin[1], out2))
                return i;
        return qsizetype(-1);
    };
    const int left = int(std::max<qint64>(0, PinTimeout - clicked.elapsed()));
    QTRY_VERIFY_WITH_TIMEOUT(found() >= 0, left);
    qInfo("%s after %lld ms", qPrintable(describe(readings[found()])), clicked.elapsed());
}

void TestFirmware::foundAndReadBack()
{
    QTRY_COMPARE_WITH_TIMEOUT(ui().lblStatus->text(), u"Found: ORVIX7"_s, SearchTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(ui().lblDis1[2]->text(), u"0"_s, 4000);
    QCOMPARE(ui().lblDis1[1]->text(), u"0"_s);
    QCOMPARE(highlighted(), 3);
    QVERIFY(!m_board->readings().isEmpty());
    const SimBoardProcess::Reading last = m_board->readings().last();
    QVERIFY2(shows(last.pin[0], {0, 0}) && shows(last.pin[1], {0, 0}),
             qPrintable(describe(last)));
}

// Rows run in order on the one board; each expects the pins as its steps leave them.
void TestFirmware::presets_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("percent");
    QTest::addColumn<Expected>("out1");
    QTest::addColumn<Expected>("out2");
    const double f3 = frequencyOf(3);
    QTest::newRow("output 1 to 50 %") << 1 << 50 << Expected{f3, 50} << Expected{0, 0};
    QTest::newRow("output 2 to 100 %") << 2 << 100 << Expected{f3, 50} << Expected{0, 100};
    QTest::newRow("output 2 to 0 %") << 2 << 0 << Expected{f3, 50} << Expected{0, 0};
}

void TestFirmware::presets()
{
    QFETCH(int, output);
    QFETCH(int, percent);
    QFETCH(Expected, out1);
    QFETCH(Expected, out2);
    QPushButton *button = percent == 100 ? ui().cmd100posto[output]
                          : percent == 50 ? ui().cmd50posto[output]
                                          : ui().cmd0posto[output];
    const qsizetype from = m_board->readings().size();
    QElapsedTimer clicked;
    clicked.start();
    button->click();
    pinsShow(from, clicked, out1, out2);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE(ui().lblDis1[output]->text(), QString::number(percent));
}

void TestFirmware::typedSetpoints_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Expected>("out1");
    QTest::addColumn<Expected>("out2");
    const double f3 = frequencyOf(3);
    QTest::newRow("output 2 to 1 %") << 2 << u"1"_s << Expected{f3, 50} << Expected{f3, 1};
    QTest::newRow("output 2 to 99 %") << 2 << u"99"_s << Expected{f3, 50} << Expected{f3, 99};
    QTest::newRow("output 2 to 100 %") << 2 << u"100"_s << Expected{f3, 50} << Expected{0, 100};
    QTest::newRow("output 2 to 0 %") << 2 << u"0"_s << Expected{f3, 50} << Expected{0, 0};
    QTest::newRow("output 1 to 1 %") << 1 << u"1"_s << Expected{f3, 1} << Expected{0, 0};
    QTest::newRow("output 1 to 100 %") << 1 << u"100"_s << Expected{0, 100} << Expected{0, 0};
    QTest::newRow("output 1 to 50 %") << 1 << u"50"_s << Expected{f3, 50} << Expected{0, 0};
    QTest::newRow("output 2 to 1 % again") << 2 << u"1"_s << Expected{f3, 50} << Expected{f3, 1};
}

void TestFirmware::typedSetpoints()
{
    QFETCH(int, output);
    QFETCH(QString, typed);
    QFETCH(Expected, out1);
    QFETCH(Expected, out2);
    ui().txtSV1[output]->setText(typed);
    const qsizetype from = m_board->readings().size();
    QElapsedTimer clicked;
    clicked.start();
    ui().cmdSend1[output]->click();
    pinsShow(from, clicked, out1, out2);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE(ui().lblDis1[output]->text(), typed);
}

// Output 1 at 50 % and output 2 at 1 %, as the setpoint rows leave them.
void TestFirmware::frequencies_data()
{
    QTest::addColumn<int>("code");
    for (int code = 1; code <= 7; ++code)
        QTest::addRow("code %d, %.1f Hz", code, frequencyOf(code)) << code;
}

void TestFirmware::frequencies()
{
    QFETCH(int, code);
    if (!ui().FrameF1->isEnabled())
        ui().cmdEnableFreq->click();
    const qsizetype from = m_board->readings().size();
    QElapsedTimer clicked;
    clicked.start();
    ui().cmdFpwm[code]->click();
    const double f = frequencyOf(code);
    pinsShow(from, clicked, {f, 50}, {f, 1});
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE(highlighted(), code);
}

// Straight on the line, each row on a board of its own: what is sent, and what comes back.
void TestFirmware::lineRules_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("endOnly"); // only the end of what comes back counts

    QTest::newRow("name") << "I?\r"_ba << "ORVIX7\r"_ba << false;
    QTest::newRow("line feeds anywhere") << "\nI\n?\n\r\n"_ba << "ORVIX7\r"_ba << false;
    QTest::newRow("power-up state") << "SV01?\rSV11?\rSV21?\rPV01?\rPV02?\r"_ba
                                    << "SV01=3\rSV11=0\rSV21=0\rPV01=0\rPV02=0\r"_ba << false;
    QTest::newRow("codes out of range change nothing")
        << "SV01=1\rSV01=7\rSV01=0\rSV01=8\rSV01=x\rSV01=\rSV01=-1\rSV01=71\rSV01?\r"_ba
        << "SV01=1\rSV01=7\rSV01=7\rSV01=7\rSV01=7\rSV01=7\rSV01=7\rSV01=7\rSV01=7\r"_ba << false;
    QTest::newRow("duties out of range change nothing")
        << "SV11=100\rSV11=101\rSV11=65636\rSV11= 5\rSV11=5.0\rSV11=+5\rPV01?\r"_ba
        << "SV11=100\rSV11=100\rSV11=100\rSV11=100\rSV11=100\rSV11=100\rPV01=100\r"_ba << false;
    QTest::newRow("outputs apart") << "SV21=007\rSV11?\rPV02?\rPV01?\r"_ba
                                   << "SV21=7\rSV11=0\rPV02=7\rPV01=0\r"_ba << false;
    QTest::newRow("unknown commands unanswered")
        << "i?\rsv11?\rSV11\rSV31=5\rSV11?x\rPV03?\rPV01\rI? \r\r\rI?\r"_ba << "ORVIX7\r"_ba << false;
    QTest::newRow("overlong line dropped whole")
        << QByteArray(40, 'A') + "SV11=50\rSV11?\r"_ba << "SV11=0\r"_ba << false;
    // More answers than the send queue holds: the command loop waits for room, none is lost.
    QTest::newRow("answers queue up") << "I?\r"_ba.repeated(40) << "ORVIX7\r"_ba.repeated(40)
                                      << false;
    QTest::newRow("NUL in a line drops it") << "SV11=5\0"_ba + "0\rSV11?\r"_ba << "SV11=0\r"_ba << false;

    // A burst far beyond what the firmware can queue, of every byte value, CR and LF
    // included: the firmware keeps going and answers what follows.
    QByteArray noise;
    quint32 state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        noise += char(state >> 24);
    }
    QTest::newRow("answers after noise") << noise + "\rI?\r"_ba << "ORVIX7\r"_ba << true;
}

void TestFirmware::lineRules()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    QFETCH(bool, endOnly);
    QTemporaryDir dir;
    SimBoardProcess board(dir.filePath(u"line"_s));
    QVERIFY(board.started());
    QSerialPort port(dir.filePath(u"line"_s));
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QByteArray received;
    connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });
    port.write(sent);
    // 9600 baud moves about a byte a millisecond each way.
    const int timeout = 2000 + int(sent.size() + answer.size()) * 2;
    if (endOnly) {
        QTRY_VERIFY_WITH_TIMEOUT(received.endsWith(answer), timeout);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= answer.size(), timeout);
        QTest::qWait(50); // nothing more may follow
        QCOMPARE(received, answer);
    }
}

QTEST_MAIN(TestFirmware)
#include "tst_firmware.moc"
