// Drives the virtual board over its pseudo-terminal, as the panel would.
// The board binary comes from the PWM_VIRTUAL_BOARD environment variable.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One running board with its own temporary folder, link and log.
class BoardRun {
public:
    ~BoardRun()
    {
        closePort();
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            if (!proc.waitForFinished(2000)) {
                proc.kill();
                proc.waitForFinished(1000);
            }
        }
    }

    QString linkPath() const { return dir.filePath(QStringLiteral("ports/com1")); }
    QString logPath() const { return dir.filePath(QStringLiteral("log")); }

    // Starts the board and waits for its start line; error says why on failure.
    bool start(const QStringList &extra = {})
    {
        const QString exe = qEnvironmentVariable("PWM_VIRTUAL_BOARD");
        if (exe.isEmpty())
            return fail(QStringLiteral("PWM_VIRTUAL_BOARD is not set"));
        if (!dir.isValid())
            return fail(QStringLiteral("no temporary folder"));
        proc.setProgram(exe);
        proc.setArguments(extra + QStringList{QStringLiteral("--link"), linkPath(),
                                              QStringLiteral("--log"), logPath()});
        proc.start();
        if (!proc.waitForStarted(3000))
            return fail(QStringLiteral("board did not start: ") + proc.errorString());
        while (!proc.canReadLine()) {
            if (!proc.waitForReadyRead(5000))
                return fail(QStringLiteral("no start line; stderr: ")
                            + QString::fromLocal8Bit(proc.readAllStandardError()));
        }
        startLine = QString::fromLocal8Bit(proc.readLine()).trimmed();
        return true;
    }

    // Opens the link like a serial port: raw, non-blocking.
    bool openPort()
    {
        fd = ::open(QFile::encodeName(linkPath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return fail(QStringLiteral("cannot open port: ") + QString::fromLocal8Bit(strerror(errno)));
        termios tio {};
        if (tcgetattr(fd, &tio) != 0)
            return fail(QStringLiteral("tcgetattr failed"));
        cfmakeraw(&tio);
        return tcsetattr(fd, TCSANOW, &tio) == 0 || fail(QStringLiteral("tcsetattr failed"));
    }

    void closePort()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool send(const QByteArray &data)
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd pfd {fd, POLLOUT, 0};
                if (::poll(&pfd, 1, 2000) <= 0)
                    return false;
            } else if (!(n < 0 && errno == EINTR)) {
                return false;
            }
        }
        return true;
    }

    // Reads until at least `want` bytes have arrived or timeoutMs has passed.
    QByteArray receive(qsizetype want, int timeoutMs = 2000)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < want) {
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                break;
            pollfd pfd {fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(left)) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }

    // Whatever arrives within ms milliseconds.
    QByteArray receiveFor(int ms) { return receive(1 << 20, ms); }

    QByteArrayList logLines() const
    {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QByteArrayList lines = f.readAll().split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir dir;
    QProcess proc;
    QString startLine;
    QString error;
    int fd = -1;

private:
    bool fail(const QString &why)
    {
        error = why;
        return false;
    }
};

bool linkExists(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

class TestVirtualBoard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString exe = qEnvironmentVariable("PWM_VIRTUAL_BOARD");
        QVERIFY2(!exe.isEmpty(), "PWM_VIRTUAL_BOARD must name the virtualboard binary");
        QVERIFY2(QFileInfo(exe).isExecutable(), qPrintable(exe + QStringLiteral(" is not executable")));
    }

    void startLineNamesSlaveAndLink()
    {
        BoardRun run;
        QVERIFY2(run.start(), qPrintable(run.error));
        QVERIFY2(run.startLine.startsWith(QLatin1String("virtualboard: /dev/")), qPrintable(run.startLine));
        QVERIFY(run.startLine.endsWith(QLatin1String(" linked at ") + run.linkPath()));
        const QString slave = run.startLine.section(QLatin1Char(' '), 1, 1);
        QCOMPARE(QFile::symLinkTarget(run.linkPath()), slave);
    }

    void exchanges_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");

        const QStringList none;
        QTest::newRow("identify") << none << QByteArray("I?\r") << QByteArray("ORVIX7\r");
        QTest::newRow("identify other name") << QStringList{"--name", "BENCH42"}
                                             << QByteArray("I?\r") << QByteArray("BENCH42\r");
        QTest::newRow("eol cr") << QStringList{"--eol", "cr"} << QByteArray("I?\r") << QByteArray("ORVIX7\r");
        QTest::newRow("eol crlf") << QStringList{"--eol", "crlf"} << QByteArray("I?\r") << QByteArray("ORVIX7\r\n");
        QTest::newRow("eol lfcr") << QStringList{"--eol", "lfcr"} << QByteArray("I?\r") << QByteArray("ORVIX7\n\r");
        QTest::newRow("frequency default") << none << QByteArray("SV01?\r") << QByteArray("SV01=3\r");
        QTest::newRow("duty defaults") << none << QByteArray("SV11?\rSV21?\r") << QByteArray("SV11=0\rSV21=0\r");
        QTest::newRow("set duty 2") << none << QByteArray("SV21=50\rSV21?\r") << QByteArray("SV21=50\rSV21=50\r");
        QTest::newRow("set duty 1") << none << QByteArray("SV11=75\rSV11?\rSV21?\r")
                                    << QByteArray("SV11=75\rSV11=75\rSV21=0\r");
        QTest::newRow("set frequency") << none << QByteArray("SV01=7\rSV01?\r") << QByteArray("SV01=7\rSV01=7\r");
        QTest::newRow("line feeds ignored") << none << QByteArray("\nI\n?\r\n") << QByteArray("ORVIX7\r");
        QTest::newRow("unknown ignored") << none << QByteArray("XYZ\rSV31?\r\rI?\r") << QByteArray("ORVIX7\r");
        QTest::newRow("bad number ignored") << none << QByteArray("SV21=abc\rSV21=\rSV21=5x\rSV21?\r")
                                            << QByteArray("SV21=0\r");
        QTest::newRow("overlong dropped") << none << QByteArray(5000, 'A') + "SV01?\rI?\r"
                                          << QByteArray("ORVIX7\r");
        QTest::newRow("delayed replies keep order") << QStringList{"--delay", "50"} << QByteArray("I?\rSV01?\r")
                                                    << QByteArray("ORVIX7\rSV01=3\r");
    }

    void exchanges()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);

        BoardRun run;
        QVERIFY2(run.start(options), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QVERIFY(run.send(input));
        QCOMPARE(run.receive(expected.size()), expected);
        QCOMPARE(run.receiveFor(50), QByteArray());  // nothing extra behind it
    }

    void processValue_data()
    {
        QTest::addColumn<QByteArray>("setDuty");
        QTest::addColumn<QByteArray>("query");

        QTest::newRow("output 1") << QByteArray("SV11=40\r") << QByteArray("PV01?\r");
        QTest::newRow("output 2") << QByteArray("SV21=40\r") << QByteArray("PV02?\r");
    }

    void processValue()
    {
        QFETCH(QByteArray, setDuty);
        QFETCH(QByteArray, query);

        BoardRun run;
        QVERIFY2(run.start(), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QVERIFY(run.send(setDuty));
        QCOMPARE(run.receive(setDuty.size()), setDuty);
        QVERIFY(run.send(query));
        QByteArray reply;
        QElapsedTimer clock;
        clock.start();
        while (!reply.endsWith('\r') && clock.elapsed() < 2000)
            reply += run.receive(1, 200);
        const QByteArray prefix = query.left(4) + '=';
        QVERIFY2(reply.startsWith(prefix), reply.constData());
        bool ok = false;
        const double value = reply.mid(prefix.size()).chopped(1).toDouble(&ok);
        QVERIFY2(ok, reply.constData());
        QVERIFY2(value >= 20.0 && value < 21.0, reply.constData());
    }

    void silentAnswersNothingButLogs()
    {
        BoardRun run;
        QVERIFY2(run.start({"--silent"}), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QVERIFY(run.send("I?\rSV01?\r"));
        QCOMPARE(run.receiveFor(300), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(run.logLines().size(), qsizetype(2), 2000);
    }

    void delayHoldsReply()
    {
        BoardRun run;
        QVERIFY2(run.start({"--delay", "150"}), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run.send("I?\r"));
        QCOMPARE(run.receive(7), QByteArray("ORVIX7\r"));
        QVERIFY2(clock.elapsed() >= 140, QByteArray::number(clock.elapsed()).constData());
    }

    void logRecordsCommands()
    {
        BoardRun run;
        QVERIFY2(run.start(), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        // Each command waits for its answer, so the log times must rise; the last two come in
        // one write and may be logged within the same microsecond.
        QVERIFY(run.send("I?\r"));
        QCOMPARE(run.receive(7), QByteArray("ORVIX7\r"));
        QVERIFY(run.send("SV21=50\r"));
        QCOMPARE(run.receive(8), QByteArray("SV21=50\r"));
        QVERIFY(run.send(QByteArray("\x01Z\\\xff\r") + "SV01?\r"));
        QCOMPARE(run.receive(7), QByteArray("SV01=3\r"));

        const QByteArrayList lines = run.logLines();
        QCOMPARE(lines.size(), qsizetype(4));
        const QByteArrayList commands{"I?", "SV21=50", "\\x01Z\\x5C\\xFF", "SV01?"};
        double previous = -1;
        for (int i = 0; i < lines.size(); ++i) {
            const qsizetype space = lines[i].indexOf(' ');
            QVERIFY2(space > 0, lines[i].constData());
            const QByteArray stamp = lines[i].left(space);
            QCOMPARE(stamp.size() - stamp.indexOf('.'), qsizetype(4));  // three decimals
            bool ok = false;
            const double ms = stamp.toDouble(&ok);
            QVERIFY2(ok, lines[i].constData());
            QVERIFY2(i == 3 ? ms >= previous : ms > previous, lines[i].constData());
            previous = ms;
            QCOMPARE(lines[i].mid(space + 1), commands[i]);
        }
    }

    void portCanBeReopened()
    {
        BoardRun run;
        QVERIFY2(run.start(), qPrintable(run.error));
        for (int round = 0; round < 3; ++round) {
            QVERIFY2(run.openPort(), qPrintable(run.error));
            QVERIFY(run.send("I?\r"));
            QCOMPARE(run.receive(7), QByteArray("ORVIX7\r"));
            run.closePort();
        }
        QCOMPARE(run.proc.state(), QProcess::Running);
    }

    void staleLinkIsReplaced()
    {
        BoardRun run;
        QVERIFY(QDir().mkpath(run.dir.filePath(QStringLiteral("ports"))));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), run.linkPath()));
        QVERIFY2(run.start(), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QVERIFY(run.send("I?\r"));
        QCOMPARE(run.receive(7), QByteArray("ORVIX7\r"));
    }

    void sigtermEndsCleanly()
    {
        BoardRun run;
        QVERIFY2(run.start(), qPrintable(run.error));
        QVERIFY2(run.openPort(), qPrintable(run.error));
        QVERIFY(linkExists(run.linkPath()));
        QCOMPARE(::kill(pid_t(run.proc.processId()), SIGTERM), 0);
        QVERIFY(run.proc.waitForFinished(3000));
        QCOMPARE(run.proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.proc.exitCode(), 0);
        QVERIFY(!linkExists(run.linkPath()));
    }

    void badOptionsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("unknown") << QStringList{"--bogus"};
        QTest::newRow("missing value") << QStringList{"--delay"};
        QTest::newRow("bad eol") << QStringList{"--eol", "lf"};
        QTest::newRow("bad delay") << QStringList{"--delay", "-5"};
    }

    void badOptionsExitWithTwo()
    {
        QFETCH(QStringList, options);
        QProcess proc;
        proc.start(qEnvironmentVariable("PWM_VIRTUAL_BOARD"), options);
        QVERIFY(proc.waitForFinished(3000));
        QCOMPARE(proc.exitCode(), 2);
        QVERIFY(!proc.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVirtualBoard)
#include "tst_virtualboard.moc"
