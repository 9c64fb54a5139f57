// The window as it starts, its panels, and the settings cycle.
#include "support/panelfixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void startsWaitingWithDefaults();
    void layout_data();
    void layout();
    void helpAndSettingsViews();
    void timersDoNotRestartWhenEnabledAgain();
    void loadsSettingsFile_data();
    void loadsSettingsFile();
    void saveWritesExactFileAndReconnects();
    void saveRoundTripsCommasAndReadsNumbersBack();
    void saveRefusesBadBoxes_data();
    void saveRefusesBadBoxes();
    void failedWriteKeepsOldFile();
    void unEditedSaveKeepsTheFile_data();
    void unEditedSaveKeepsTheFile();
    void typingLimitLeavesLoadedLabelsWhole();
    void findsABoardWhoseNameHasAn8BitByte();
    void pressBeforeHeldInputIsReleased();
    void labelsNeverRenderMarkup();
    void tabOrderFollowsTheView();
    void valueLabelsNameThemselves();
    void nameComesFromTheStartedPath_data();
    void nameComesFromTheStartedPath();
};

void TestMainWindow::startsWaitingWithDefaults()
{
    PanelFixture p;
    const auto &u = p.ui();
    QCOMPARE(p.w().windowTitle(), u"PWM Panel: pwmpanel"_s);
    QVERIFY(p.statusIs(u"wait..."_s, Colors::StatusWaiting));
    QVERIFY(p.w().Timer1().isActive());
    QCOMPARE(p.w().Timer1().interval(), 2500);
    QVERIFY(!p.w().Timer2().isActive());
    QVERIFY(!p.w().StTimer().isActive());
    QVERIFY(!p.w().TimerCom().isActive());
    QVERIFY(u.frmSet->isHidden());
    QVERIFY(u.frmHelp->isHidden());
    QVERIFY(!u.FrameF1->isEnabled());
    QVERIFY(!u.txtSet1[4]->isEnabled());
    QCOMPARE(u.cmdEnableFreq->text(), u"Enable Set Pwm Freq."_s);
    const QStringList boxes{u.txtSet1[1]->text(), u.txtSet1[2]->text(), u.txtSet1[3]->text(),
                            u.txtSet1[4]->text(), u.txtSet1[5]->text(),
                            u.txtTempName[1]->text(), u.txtTempName[2]->text(),
                            u.lblName1[1]->text(), u.lblName1[2]->text()};
    QCOMPARE(boxes, (QStringList{u"1"_s, u"9600"_s, u"-"_s, u"0"_s, u"ORVIX7"_s, u"PWM Out1(%):"_s,
                                 u"PWM Out2(%):"_s, u"PWM Out1(%):"_s, u"PWM Out2(%):"_s}));
    QCOMPARE(p.serial.commPort(), 1);
    QCOMPARE(p.serial.settings, u"9600,N,8,1"_s);
    QVERIFY(!p.serial.portOpen());
    QVERIFY2(!QFile::exists(p.iniPath()), "no file is written until SAVE-CLOSE");
    QCOMPARE(u.lblDis1[1]->text(), u"-"_s);
    QCOMPARE(u.lblDevCode->text(), u"???"_s);
    QCOMPARE(u.txtSV1[2]->text(), u"10"_s);
    QCOMPARE(MainWindow::HelpText.size(), 337);
    QCOMPARE(u.Text1->toPlainText().split(u'\n').size(), 9);
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char *name, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << QRect(l, t, w, h);
    };
    row("cmdSet", 105, 105, 540, 360);
    row("lblStatus", 735, 105, 9270, 360);
    row("FrameF1", 105, 525, 6945, 750);
    row("cmdFpwm1", 210, 315, 855, 330);
    row("cmdFpwm7", 5880, 315, 855, 330);
    row("cmdEnableFreq", 7455, 735, 2220, 435);
    row("frm1_1", 105, 1365, 4845, 1905);
    row("frm1_2", 5145, 1365, 4845, 1905);
    row("lblDis1_2", 210, 315, 2010, 645);
    row("lblName1_1", 210, 1155, 2010, 540);
    row("cmd100posto_2", 2415, 315, 855, 330);
    row("cmd50posto_1", 2415, 840, 855, 330);
    row("cmd0posto_1", 2415, 1365, 855, 330);
    row("Frame5_2", 3465, 210, 1275, 1485);
    row("txtSV1_1", 210, 315, 855, 285);
    row("cmdSend1_2", 105, 840, 1065, 435);
    row("cmdHelp", 105, 3360, 540, 330);
    row("lblDevCode", 840, 3360, 9150, 330);
    row("frmHelp", 105, 105, 9915, 3585);
    row("Text1", 105, 210, 7380, 1905);
    row("cmdCloseHelp", 6195, 2310, 1275, 360);
    row("frmSet", 105, 105, 9885, 3165);
    row("Frame2", 105, 210, 7365, 540);
    row("txtSet1_5", 2940, 210, 2010, 240);
    row("Frame3", 105, 840, 7365, 960);
    row("frmTempName_2", 1785, 210, 1590, 645);
    row("txtTempName_2", 105, 210, 1380, 285);
    row("cmdExit", 5880, 2100, 1590, 435);
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    PanelFixture p;
    const auto *w = p.w().findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15,
                                  twips.height() / 15));
}

namespace {
// The control the operator would hit at the centre of `w`.
QWidget *hitAt(MainWindow &win, QWidget *w)
{
    return win.childAt(w->mapTo(&win, w->rect().center()));
}
bool covers(QWidget *panel, QWidget *hit)
{
    return hit == panel || panel->isAncestorOf(hit);
}
} // namespace

void TestMainWindow::helpAndSettingsViews()
{
    PanelFixture p("1,\"9600\",\"-\",3,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    const auto &u = p.ui();
    p.identify();
    QVERIFY(p.w().StTimer().isActive());

    u.cmdSet->click();
    QVERIFY(!u.frmSet->isHidden());
    QVERIFY2(!p.w().StTimer().isActive(), "opening the settings stops polling");
    QVERIFY(covers(u.frmSet, hitAt(p.w(), u.cmdSet)));
    QCOMPARE(hitAt(p.w(), u.cmdHelp), u.cmdHelp);
    QCOMPARE(hitAt(p.w(), u.lblDevCode), u.lblDevCode);

    u.txtSet1[2]->setText(u"19200"_s);
    u.cmdHelp->click();
    QVERIFY(!u.frmHelp->isHidden());
    QVERIFY(covers(u.frmHelp, hitAt(p.w(), u.cmdExit)));
    QVERIFY(covers(u.frmHelp, hitAt(p.w(), u.cmdHelp)));
    QCOMPARE(hitAt(p.w(), u.cmdCloseHelp), u.cmdCloseHelp);

    u.cmdCloseHelp->click();
    QVERIFY(u.frmHelp->isHidden());
    QVERIFY(!u.frmSet->isHidden());
    QCOMPARE(u.txtSet1[2]->text(), u"19200"_s);
}

void TestMainWindow::timersDoNotRestartWhenEnabledAgain()
{
    PanelTimer timer(u"t"_s, std::chrono::milliseconds(5000), nullptr);
    QSignalSpy ticks(&timer, &QTimer::timeout);
    timer.setEnabled(true);
    QTest::qWait(120);
    timer.setEnabled(true);
    QVERIFY2(timer.remainingTime() <= 4900, "enabling a running timer kept its count");
    timer.setEnabled(false);
    QVERIFY(!timer.isEnabled());
    timer.setEnabled(true);
    QVERIFY(timer.remainingTime() > 4900);
    QCOMPARE(ticks.size(), 0);
}

void TestMainWindow::loadsSettingsFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("boxes"); // COM, Baud, DevPass, STime, ucApp, label 1, label 2
    QTest::addColumn<int>("commPort");

    const QStringList defaults{u"1"_s, u"9600"_s, u"-"_s, u"0"_s, u"ORVIX7"_s, u"PWM Out1(%):"_s,
                               u"PWM Out2(%):"_s};
    QTest::newRow("as written") << "3,\"19200\",\"pw\",5,\"BOARD2\"\r\n\"Fan\",\"Pump, left\"\r\n"_ba
                                << QStringList{u"3"_s, u"19200"_s, u"pw"_s, u"5"_s, u"BOARD2"_s,
                                               u"Fan"_s, u"Pump, left"_s}
                                << 3;
    QTest::newRow("one line, LF ends, extra ignored")
        << "7,\"9600\",\"x\",0,\"B\",\"l1\",\"l2\",\"more\"\nrest\n"_ba
        << QStringList{u"7"_s, u"9600"_s, u"x"_s, u"0"_s, u"B"_s, u"l1"_s, u"l2"_s} << 7;
    QStringList keepUcApp = defaults;
    keepUcApp[4] = u"FROMFILE"_s;
    QTest::newRow("second line missing") << "3,\"19200\",\"pw\",5,\"FROMFILE\"\r\n"_ba
                                         << keepUcApp << 1;
    QTest::newRow("port 0 refused") << "0,\"9600\",\"pw\",5,\"FROMFILE\"\r\n\"a\",\"b\"\r\n"_ba
                                    << keepUcApp << 1;
    QTest::newRow("baud refused") << "2,\"fast\",\"pw\",5,\"FROMFILE\"\r\n\"a\",\"b\"\r\n"_ba
                                  << keepUcApp << 1;
    QTest::newRow("port out of range") << "40000,\"9600\",\"pw\",5,\"X\"\r\n\"a\",\"b\"\r\n"_ba
                                       << defaults << 1;
    QTest::newRow("not a number") << "abc,\"9600\",\"pw\",5,\"X\"\r\n\"a\",\"b\"\r\n"_ba
                                  << defaults << 1;
    QTest::newRow("missing quote") << "1,\"9600,\"pw\",5,\"X\r\n"_ba << defaults << 1;
    QTest::newRow("empty") << QByteArray() << defaults << 1;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01,\x02", 6) << defaults << 1;
    QTest::newRow("huge line") << QByteArray(3 << 20, 'x') << defaults << 1;
}

void TestMainWindow::loadsSettingsFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, boxes);
    QFETCH(int, commPort);
    PanelFixture p(file);
    const auto &u = p.ui();
    const QStringList shown{u.txtSet1[1]->text(), u.txtSet1[2]->text(), u.txtSet1[3]->text(),
                            u.txtSet1[4]->text(), u.txtSet1[5]->text(), u.txtTempName[1]->text(),
                            u.txtTempName[2]->text()};
    QCOMPARE(shown, boxes);
    QCOMPARE(u.lblName1[1]->text(), boxes[5]);
    QCOMPARE(u.lblName1[2]->text(), boxes[6]);
    QCOMPARE(p.serial.commPort(), commPort);
    QCOMPARE(p.w().state().UcApp, boxes[4]);
    QVERIFY(p.statusIs(u"wait..."_s, Colors::StatusWaiting));
}

void TestMainWindow::saveWritesExactFileAndReconnects()
{
    PanelFixture p;
    const auto &u = p.ui();
    p.identify();
    QVERIFY(p.serial.portOpen());
    QVERIFY(!p.w().Timer1().isActive());

    u.cmdSet->click();
    u.cmdExit->click();
    QCOMPARE(p.iniBytes(), "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n"_ba);
    QVERIFY(u.frmSet->isHidden());
    QVERIFY2(!p.serial.portOpen(), "saving closes the port");
    QVERIFY(p.w().Timer1().isActive());
    QVERIFY(p.statusIs(u"wait..."_s, Colors::StatusWaiting));

    // Unchanged settings rewrite the same bytes.
    const QByteArray first = p.iniBytes();
    u.cmdSet->click();
    u.cmdExit->click();
    QCOMPARE(p.iniBytes(), first);
}

void TestMainWindow::saveRoundTripsCommasAndReadsNumbersBack()
{
    PanelFixture p("1,\"9600\",\"-\",-7,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    const auto &u = p.ui();
    u.cmdSet->click();
    u.txtSet1[1]->setText(u" 03 "_s);
    u.txtSet1[5]->setText(u"NEW,APP"_s);
    u.txtTempName[1]->setText(u"Heater, zone 1"_s);
    u.cmdExit->click();
    QVERIFY(p.dialogs.refusals.isEmpty());
    QCOMPARE(p.iniBytes(), "3,\"9600\",\"-\",-7,\"NEW,APP\"\r\n\"Heater, zone 1\",\"b\"\r\n"_ba);
    QCOMPARE(u.txtSet1[1]->text(), u"3"_s);
    QCOMPARE(u.lblName1[1]->text(), u"Heater, zone 1"_s);
    QCOMPARE(u.txtSet1[4]->text(), u"-7"_s);
    QCOMPARE(p.serial.commPort(), 3);
}

void TestMainWindow::saveRefusesBadBoxes_data()
{
    QTest::addColumn<int>("box"); // 1..5 for txtSet1, 6 and 7 for the labels
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    QTest::newRow("COM empty") << 1 << QString() << u"COM"_s;
    QTest::newRow("COM text") << 1 << u"x"_s << u"COM"_s;
    QTest::newRow("COM too big") << 1 << u"32767.5"_s << u"COM"_s;
    QTest::newRow("quote in baud") << 2 << u"96\"00"_s << u"Baud"_s;
    QTest::newRow("quote in ucApp") << 5 << u"\""_s << u"ucApp"_s;
    QTest::newRow("quote in label 2") << 7 << u"say \"hi\""_s << u"MyLabel2"_s;
    QTest::newRow("no byte for the euro sign") << 6 << u"Cost \u20ac"_s << u"MyLabel1"_s;
    QTest::newRow("no byte for an arrow") << 5 << u"A\u2192B"_s << u"ucApp"_s;
}

void TestMainWindow::saveRefusesBadBoxes()
{
    QFETCH(int, box);
    QFETCH(QString, text);
    QFETCH(QString, named);
    const QByteArray old = "2,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba;
    PanelFixture p(old);
    const auto &u = p.ui();
    u.cmdSet->click();
    QLineEdit *edit = box <= 5 ? u.txtSet1[box] : u.txtTempName[box - 5];
    edit->setText(text);
    u.cmdExit->click();
    QCOMPARE(p.dialogs.refusals.size(), 1);
    QVERIFY2(p.dialogs.refusals[0].contains(named), qPrintable(p.dialogs.refusals[0]));
    QVERIFY(!u.frmSet->isHidden());
    QCOMPARE(p.iniBytes(), old);
    QCOMPARE(edit->text(), text);
}

void TestMainWindow::failedWriteKeepsOldFile()
{
    PanelFixture p;
    // A folder where the file should be makes every write fail, even for root.
    QVERIFY(QDir(p.dir.path()).mkpath(u"pwmpanel.ini"_s));
    p.ui().cmdSet->click();
    p.ui().cmdExit->click();
    QCOMPARE(p.dialogs.refusals.size(), 1);
    QVERIFY(p.dialogs.refusals[0].contains(u"could not be written"_s));
    QVERIFY(!p.ui().frmSet->isHidden());
    QVERIFY(QFileInfo(p.iniPath()).isDir());
}

// SAVE-CLOSE without an edit writes back the bytes that were read.
void TestMainWindow::unEditedSaveKeepsTheFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("29-character label")
        << "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Tank 1 inlet valve, duty (%):\",\"b\"\r\n"_ba;
    QTest::newRow("8-bit degree sign in a label")
        << "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Temp \xb0" "C\",\"b\"\r\n"_ba;
    QTest::newRow("8-bit byte in the board name")
        << "1,\"9600\",\"-\",0,\"ORVIX\xd6\"\r\n\"a\",\"b\"\r\n"_ba;
    QTest::newRow("all of them, and every high byte")
        << "7,\"19200\",\"\xff\x80\",3,\"\xd6\xe9\"\r\n\"Tank 1 inlet valve, duty (%):\",\"\xb0\xa0\xa9\"\r\n"_ba;
}

void TestMainWindow::unEditedSaveKeepsTheFile()
{
    QFETCH(QByteArray, file);
    PanelFixture p(file);
    const auto &u = p.ui();
    QCOMPARE(u.lblName1[1]->text(), u.txtTempName[1]->text());
    u.cmdSet->click();
    u.cmdExit->click();
    QVERIFY(p.dialogs.refusals.isEmpty());
    QCOMPARE(p.iniBytes(), file);
}

void TestMainWindow::typingLimitLeavesLoadedLabelsWhole()
{
    const QString longLabel = u"Tank 1 inlet valve, duty (%):"_s;
    PanelFixture p("1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Tank 1 inlet valve, duty (%):\",\"b\"\r\n"_ba);
    const auto &u = p.ui();
    QCOMPARE(u.txtTempName[1]->text(), longLabel);
    QCOMPARE(u.lblName1[1]->text(), longLabel);
    u.cmdSet->click();
    // Typing cannot make a label longer than the limit, or a longer loaded one longer still.
    QTest::keyClicks(u.txtTempName[2], u"abcdefghijklmnopqrstuvwxyz"_s);
    QCOMPARE(u.txtTempName[2]->text().size(), MainWindow::MaxUserLabel);
    u.txtTempName[1]->end(false);
    QTest::keyClicks(u.txtTempName[1], u"xyz"_s);
    QCOMPARE(u.txtTempName[1]->text(), longLabel);
    QTest::keyClick(u.txtTempName[1], Qt::Key_Backspace);
    QTest::keyClicks(u.txtTempName[1], u"!"_s);
    QCOMPARE(u.txtTempName[1]->text(), longLabel.chopped(1) + u'!');
}

// Reply lines are one character a byte, like the settings file.
void TestMainWindow::findsABoardWhoseNameHasAn8BitByte()
{
    PanelFixture p("1,\"9600\",\"-\",0,\"ORVIX\xd6\"\r\n\"a\",\"b\"\r\n"_ba);
    QCOMPARE(p.ui().txtSet1[5]->text(), u"ORVIX\u00d6"_s);
    p.t().timer1();
    p.serial.feedNow("ORVIX7\r");
    QVERIFY(p.w().Timer1().isActive());
    p.serial.feedNow("ORVIX\xd6\r");
    QVERIFY(p.statusIs(u"Found: ORVIX\u00d6"_s, Colors::StatusFound));
    QVERIFY(!p.w().Timer1().isActive());
}

// A press made before a poll holds input off is released during it; a press made during the
// hold is dropped with its release.
void TestMainWindow::pressBeforeHeldInputIsReleased()
{
    PanelFixture p;
    p.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.w()));
    QPushButton *b = p.ui().cmd50posto[1];
    QSignalSpy clicks(b, &QPushButton::clicked);

    QTest::mousePress(b, Qt::LeftButton);
    QVERIFY(b->isDown());
    p.t().holdInput(true);
    QTest::mouseRelease(b, Qt::LeftButton);
    QVERIFY2(!b->isDown(), "the button stays drawn pressed");
    p.t().holdInput(false);
    QCOMPARE(clicks.size(), 0); // its click would have sent a command while input was held

    p.t().holdInput(true);
    QTest::mousePress(b, Qt::LeftButton);
    QTest::mouseRelease(b, Qt::LeftButton);
    QTest::keyPress(b, Qt::Key_Space);
    p.t().holdInput(false);
    QTest::keyRelease(b, Qt::Key_Space);
    QVERIFY(!b->isDown());
    QCOMPARE(clicks.size(), 0);
}

void TestMainWindow::labelsNeverRenderMarkup()
{
    PanelFixture p("1,\"9600\",\"-\",0,\"<b>x</b>\"\r\n\"<img src=x>\",\"<h1>y</h1>\"\r\n"_ba);
    const QList<QLabel *> labels = p.w().findChildren<QLabel *>();
    QCOMPARE(labels.size(), 6);
    for (const QLabel *l : labels)
        QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));
    p.t().timer1();
    p.serial.feedNow("<b>x</b>\r");
    QCOMPARE(p.ui().lblDevCode->text(), u"Korvendi: uc=<b>x</b>  pc=pwmpanel"_s);
    QCOMPARE(p.ui().lblName1[1]->text(), u"<img src=x>"_s);
}

namespace {
// The controls that Tab visits from `start` until it comes back round.
QStringList tabCycle(QWidget *start)
{
    start->setFocus();
    QStringList seen{start->objectName()};
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *now = QApplication::focusWidget();
        if (!now || now == start)
            break;
        seen << now->objectName();
    }
    return seen;
}
} // namespace

void TestMainWindow::tabOrderFollowsTheView()
{
    PanelFixture p;
    const auto &u = p.ui();
    p.w().show();
    QApplication::setActiveWindow(&p.w());
    QVERIFY(QTest::qWaitForWindowActive(&p.w()));

    const QStringList output1{u"cmd100posto_1"_s, u"cmd50posto_1"_s, u"cmd0posto_1"_s,
                              u"txtSV1_1"_s, u"cmdSend1_1"_s};
    QStringList output2 = output1;
    output2.replaceInStrings(u"_1"_s, u"_2"_s);
    const QStringList mainView = QStringList{u"cmdSet"_s, u"cmdEnableFreq"_s} + output1 + output2
                                 + QStringList{u"cmdHelp"_s};
    QCOMPARE(tabCycle(u.cmdSet), mainView);

    u.cmdEnableFreq->click();
    QCOMPARE(tabCycle(u.cmdSet).mid(0, 4),
             (QStringList{u"cmdSet"_s, u"cmdFpwm1"_s, u"cmdFpwm2"_s, u"cmdFpwm3"_s}));

    u.cmdSet->click();
    QCOMPARE(tabCycle(u.txtSet1[1]),
             (QStringList{u"txtSet1_1"_s, u"txtSet1_2"_s, u"txtSet1_3"_s, u"txtSet1_5"_s,
                          u"txtTempName_1"_s, u"txtTempName_2"_s, u"cmdExit"_s, u"cmdHelp"_s}));
    u.cmdHelp->click();
    QCOMPARE(tabCycle(u.cmdCloseHelp), (QStringList{u"cmdCloseHelp"_s, u"Text1"_s}));
}

void TestMainWindow::valueLabelsNameThemselves()
{
    PanelFixture p;
    const auto &u = p.ui();
    QCOMPARE(u.cmd50posto[2]->accessibleName(), u"Output 2: set 50 percent"_s);
    QCOMPARE(u.txtSV1[1]->accessibleName(), u"Output 1 setpoint"_s);
    QCOMPARE(u.lblStatus->accessibleDescription(), u"Status line"_s);
    QCOMPARE(u.lblDis1[2]->accessibleDescription(), u"Output 2 readback"_s);
    // The design texts are never heard: the first values are named at once.
    QCOMPARE(u.lblStatus->accessibleName(), u"wait..."_s);
    QCOMPARE(u.lblName1[1]->accessibleName(), u"PWM Out1(%):"_s);
    QCOMPARE(u.lblName1[2]->accessibleName(), u"PWM Out2(%):"_s);

    // After a quiet spell the first line is named at once; the lines that follow within a
    // quarter second are held back, and the name ends on the last one.
    QTest::qWait(300);
    p.serial.feedNow("first\r");
    QCOMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: first"_s);
    for (int i = 0; i < 50; ++i)
        p.serial.feedNow(QByteArray::number(i) + '\r');
    QCOMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: first"_s);
    QTRY_COMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: 49"_s);
}

void TestMainWindow::nameComesFromTheStartedPath_data()
{
    QTest::addColumn<QString>("argv0");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("settings");
    QTest::newRow("absolute") << u"/opt/pwm/pwmpanel"_s << u"/opt/pwm"_s << u"/opt/pwm/pwmpanel.ini"_s;
    QTest::newRow("link under another name") << u"/home/u/boards/panel2"_s << u"/home/u/boards"_s
                                             << u"/home/u/boards/panel2.ini"_s;
    QTest::newRow("windows executable") << u"/c/tools/PwmPanel.EXE"_s << u"/c/tools"_s
                                        << u"/c/tools/PwmPanel.ini"_s;
    QTest::newRow("dotted name") << u"/x/panel.v2"_s << u"/x"_s << u"/x/panel.v2.ini"_s;
}

void TestMainWindow::nameComesFromTheStartedPath()
{
    QFETCH(QString, argv0);
    QFETCH(QString, dir);
    QFETCH(QString, settings);
    const ExecutableIdentity exe = ExecutableIdentity::fromArgv0(argv0, u"/fallback"_s);
    QCOMPARE(exe.dir, dir);
    QCOMPARE(exe.settingsPath(), settings);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
