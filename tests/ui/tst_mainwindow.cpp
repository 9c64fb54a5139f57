// The window: its controls as the layout table places them, their colours, the views and
// keyboard order, and that every binding to the session reaches its control.
#include "support/panelfixture.h"
#include "ui/facebutton.h"
#include "ui/layout.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QSignalSpy>
#include <QTest>

using Kind = Session::StatusKind;

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

QColor rgb(int r, int g, int b)
{
    return QColor(r, g, b);
}

// The view, the frequency lock and whether the settings file was written, in a few words.
QString panelState(PanelFixture &p)
{
    static const QString views[] = {u"main"_s, u"settings"_s, u"help"_s};
    QString state = views[int(p.s().view())];
    if (p.s().isFrequencyUnlocked())
        state += u" unlocked"_s;
    if (QFile::exists(p.iniPath()))
        state += u" saved"_s;
    return state;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void everyControlAsTheTableSays();
    void layoutTableFits();
    void startsAsDesigned();
    void coloursAsDesigned_data();
    void coloursAsDesigned();
    void statusColours_data();
    void statusColours();
    void sessionReachesEveryControl();
    void highlightChangesReuseStylePalettes();
    void manyFaceColoursKeepSharedPalettesBounded();
    void burstEndsShowingTheLastLine();
    void operatorInputReachesTheSession();
    void eachControlsBinding_data();
    void eachControlsBinding();
    void helpAndSettingsViews();
    void tabOrderFollowsTheView();
    void typingLimitLeavesLoadedLabelsWhole();
    void labelsNeverRenderMarkup();
    void valueLabelsNameThemselves();
    void pollHoldsOperatorInput_data();
    void pollHoldsOperatorInput();
    void pressBeforeHeldInputIsReleased();
    void closingAsks();
};

void TestMainWindow::everyControlAsTheTableSays()
{
    PanelFixture p;
    for (const Layout::Control &c : Layout::controls()) {
        const auto *w = p.w().findChild<QWidget *>(c.name);
        QVERIFY2(w, qPrintable(c.name));
        QCOMPARE(w->parentWidget()->objectName(), c.parent.isEmpty() ? u"MainWindow"_s : c.parent);
        QCOMPARE(w->geometry(), c.pixels());
    }
    QCOMPARE(p.w().size(), Layout::WindowSize);
}

// What a wrong table would break: every control lies inside its container, and no two
// controls of one container overlap (the panels that cover the main view aside).
void TestMainWindow::layoutTableFits()
{
    const auto &table = Layout::controls();
    QHash<QString, QRect> inner{{QString(), QRect(QPoint(), Layout::WindowSize * Layout::TwipsPerPixel)}};
    for (const Layout::Control &c : table)
        inner.insert(c.name, QRect(QPoint(), c.twips.size()));
    QSet<QString> names;
    for (const Layout::Control &c : table) {
        QVERIFY2(!names.contains(c.name), qPrintable(c.name + u" twice"_s));
        names.insert(c.name);
        QVERIFY2(c.parent.isEmpty() || names.contains(c.parent),
                 qPrintable(c.name + u" before its container"_s));
        QVERIFY2(inner.value(c.parent).contains(c.twips), qPrintable(c.name + u" outside"_s));
    }
    for (const Layout::Control &a : table)
        for (const Layout::Control &b : table) {
            if (&a >= &b || a.parent != b.parent)
                continue;
            if ((a.flags | b.flags) & Layout::Hidden)
                continue;
            QVERIFY2(!a.twips.intersects(b.twips), qPrintable(a.name + u" overlaps "_s + b.name));
        }
}

void TestMainWindow::startsAsDesigned()
{
    PanelFixture p;
    const auto &u = p.ui();
    QCOMPARE(p.w().windowTitle(), u"PWM Panel: pwmpanel"_s);
    QCOMPARE(p.status(), u"wait..."_s);
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
    QCOMPARE(u.lblDis1[1]->text(), u"-"_s);
    QCOMPARE(u.lblDevCode->text(), u"???"_s);
    QCOMPARE(u.txtSV1[2]->text(), u"10"_s);
    QCOMPARE(u.frm1[2]->title(), u"PWM Out2:"_s);
    QCOMPARE(u.cmdFpwm[7]->text(), u"30.6"_s);
    QCOMPARE(MainWindow::HelpText.size(), 337);
    QCOMPARE(u.Text1->toPlainText().split(u'\n').size(), 9);
}

// The designed colours, written out: &HBBGGRR values read as blue, green, red.
void TestMainWindow::coloursAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<QColor>("colour");
    const int window = QPalette::Window, text = QPalette::WindowText, face = QPalette::Button;
    QTest::newRow("window") << u"MainWindow"_s << window << rgb(0, 0, 0);
    QTest::newRow("Set button") << u"cmdSet"_s << face << rgb(0xFF, 0x00, 0xFF);
    QTest::newRow("frequency frame") << u"FrameF1"_s << window << rgb(0, 0, 0);
    QTest::newRow("output 1 caption") << u"frm1_1"_s << text << rgb(0xFF, 0xC0, 0xC0);
    QTest::newRow("output 2 caption") << u"frm1_2"_s << text << rgb(0xC0, 0xFF, 0xFF);
    QTest::newRow("output 1 readback") << u"lblDis1_1"_s << text << rgb(0xFF, 0x00, 0x00);
    QTest::newRow("output 2 readback") << u"lblDis1_2"_s << text << rgb(0x00, 0xFF, 0xFF);
    QTest::newRow("readback background") << u"lblDis1_1"_s << window << rgb(0, 0, 0);
    QTest::newRow("output 1 label") << u"lblName1_1"_s << window << rgb(0xFF, 0xC0, 0xC0);
    QTest::newRow("output 2 label") << u"lblName1_2"_s << window << rgb(0xC0, 0xFF, 0xFF);
    QTest::newRow("setpoint caption") << u"Frame5_1"_s << text << rgb(0x00, 0xC0, 0x00);
    QTest::newRow("Send face") << u"cmdSend1_2"_s << face << rgb(0x00, 0xC0, 0x00);
    QTest::newRow("device code") << u"lblDevCode"_s << text << rgb(0xFF, 0xFF, 0x00);
    QTest::newRow("Hlp face") << u"cmdHelp"_s << face << rgb(0xBF, 0xCD, 0xDB);
    QTest::newRow("settings panel") << u"frmSet"_s << window << rgb(0xC0, 0x00, 0x00);
    QTest::newRow("settings caption") << u"frmSet"_s << text << rgb(0xFF, 0xFF, 0xFF);
    QTest::newRow("help caption") << u"frmHelp"_s << text << rgb(0xFF, 0xFF, 0xFF);
    QTest::newRow("Close face") << u"cmdCloseHelp"_s << face << rgb(0xBF, 0xCD, 0xDB);
    const QPalette app = QApplication::palette();
    QTest::newRow("frequency caption") << u"FrameF1"_s << text << app.color(QPalette::Highlight);
    QTest::newRow("help panel") << u"frmHelp"_s << window << app.color(QPalette::Highlight);
    QTest::newRow("frequency face") << u"cmdFpwm1"_s << face << app.color(QPalette::Button);
    QTest::newRow("label text") << u"lblName1_2"_s << text << app.color(QPalette::ButtonText);
}

void TestMainWindow::coloursAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QColor, colour);
    PanelFixture p;
    QWidget *w = name == u"MainWindow" ? &p.w() : p.w().findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->palette().color(QPalette::ColorRole(role)), colour);
}

void TestMainWindow::statusColours_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("failing"); // a search operation made to fail
    QTest::addColumn<QColor>("colour");
    QTest::newRow("waiting") << QByteArray() << QString() << rgb(0xFF, 0xFF, 0xC0);
    QTest::newRow("reply") << "hello\r"_ba << QString() << rgb(0xC0, 0xFF, 0xC0);
    QTest::newRow("found") << "ORVIX7\r"_ba << QString() << rgb(0x00, 0xC0, 0x00);
    QTest::newRow("error") << QByteArray() << u"open"_s << rgb(0xFF, 0x80, 0x80);
}

void TestMainWindow::statusColours()
{
    QFETCH(QByteArray, received);
    QFETCH(QString, failing);
    QFETCH(QColor, colour);
    PanelFixture p;
    if (!failing.isEmpty())
        p.serial.failing[failing] = SerialCode::NoSuchPort;
    p.link.searchStep();
    if (!received.isEmpty())
        p.serial.feedNow(received);
    p.w().showPending();
    QCOMPARE(p.w().statusColor(), colour);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(p.ui().lblStatus->palette().color(group, QPalette::Window), colour);
}

void TestMainWindow::sessionReachesEveryControl()
{
    PanelFixture p("1,\"9600\",\"pw\",0,\"ORVIX7\"\r\n\"Fan\",\"Pump\"\r\n"_ba);
    const auto &u = p.ui();
    QCOMPARE(u.txtSet1[3]->text(), u"pw"_s);
    QCOMPARE(u.lblName1[2]->text(), u"Pump"_s);
    p.identify();
    p.w().showPending();
    QCOMPARE(p.status(), u"Found: ORVIX7"_s);
    QCOMPARE(u.lblDevCode->text(), u"Korvendi: uc=ORVIX7  pc=pwmpanel"_s);
    p.receive("SV11=37\rSV21=12.5\rSV01=3\r");
    QCOMPARE(u.lblDis1[1]->text(), u"37"_s);
    QCOMPARE(u.lblDis1[2]->text(), u"12.5"_s);
    const QPalette app = QApplication::palette();
    for (int n = 1; n <= 7; ++n)
        QCOMPARE(u.cmdFpwm[n]->palette().color(QPalette::Button),
                 app.color(n == 3 ? QPalette::Highlight : QPalette::Button));
    u.txtSV1[1]->setText(u"x"_s);
    u.cmdSend1[1]->click();
    QCOMPARE(u.txtSV1[1]->text(), u"error"_s);
    u.cmdEnableFreq->click();
    QVERIFY(u.FrameF1->isEnabled());
    QCOMPARE(u.cmdEnableFreq->text(), u"Disable Set Pwm Freq."_s);
    QCOMPARE(u.cmdEnableFreq->accessibleName(), u"Lock the frequency buttons"_s);
    u.cmdEnableFreq->click();
    QVERIFY(!u.FrameF1->isEnabled());
    QCOMPARE(u.cmdEnableFreq->text(), u"Enable Set Pwm Freq."_s);
}

// What the style is given for each button face it draws: the palette's identity, which keys
// its cached faces, and the face colour.
class FaceRecorder : public QProxyStyle
{
public:
    FaceRecorder() : QProxyStyle(QStyleFactory::create(u"Fusion"_s)) {}
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_PanelButtonCommand) {
            keys[widget].insert(option->palette.cacheKey());
            lastFace[widget] = option->palette.color(QPalette::Button);
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
    mutable QHash<const QWidget *, QSet<qint64>> keys;
    mutable QHash<const QWidget *, QColor> lastFace;
};

// A board that keeps changing its reported frequency must not grow the style's cache of
// button faces: plain and highlighted, one palette each, however often they take turns.
void TestMainWindow::highlightChangesReuseStylePalettes()
{
    FaceRecorder style; // outlives the buttons that use it
    PanelFixture p;
    const auto &u = p.ui();
    for (int n = 1; n <= 7; ++n)
        u.cmdFpwm[n]->setStyle(&style);
    for (int k = 0; k < 160; ++k) {
        p.receive("SV01=" + QByteArray::number(k % 8) + '\r'); // 0: none highlighted
        for (int n = 1; n <= 7; ++n)
            u.cmdFpwm[n]->grab();
    }
    const QPalette app = QApplication::palette();
    for (int n = 1; n <= 7; ++n) {
        const QPushButton *b = u.cmdFpwm[n];
        QVERIFY2(style.keys.value(b).size() <= 2,
                 qPrintable(u"button %1: %2 palettes"_s.arg(n).arg(style.keys.value(b).size())));
        const QColor expected = app.color(n == 7 ? QPalette::Highlight : QPalette::Button);
        QCOMPARE(b->palette().color(QPalette::Button), expected); // the last report was SV01=7
        QCOMPARE(style.lastFace.value(b), expected);
    }
}

// Colours beyond the program's few: the shared palettes stay within their bound, and a colour
// whose palette was dropped long ago paints as it did when it comes back.
void TestMainWindow::manyFaceColoursKeepSharedPalettesBounded()
{
    FaceRecorder style;
    FaceButton b(u"30.6"_s);
    b.setStyle(&style);
    b.resize(60, 30);
    const auto paint = [&b](const QColor &face) {
        QPalette p = b.palette();
        p.setColor(QPalette::Button, face);
        b.setPalette(p);
        return b.grab().toImage();
    };
    const QColor first(0x12, 0x34, 0x56);
    const QImage firstFace = paint(first);
    for (int k = 1; k <= 3 * int(FaceButton::PaletteBound); ++k)
        paint(QColor(k * 5, 255 - k * 5, 0x80));
    QVERIFY2(FaceButton::sharedPaletteCount() <= FaceButton::PaletteBound,
             qPrintable(QString::number(FaceButton::sharedPaletteCount())));
    QCOMPARE(paint(first), firstFace);
    QCOMPARE(style.lastFace.value(&b), first);
}

// A burst is dispatched line by line, but shown once: the window, left to its event loop,
// ends on the last line's texts and the last reports.
void TestMainWindow::burstEndsShowingTheLastLine()
{
    PanelFixture p;
    const auto &u = p.ui();
    p.identify();
    p.w().showPending();
    QByteArray burst;
    for (int i = 0; i < 400; ++i)
        burst += "SV11=" + QByteArray::number(i % 101) + "\rSV01=" + QByteArray::number(1 + i % 7)
                 + "\rSV21=" + QByteArray::number(i % 37) + ".5\rline " + QByteArray::number(i) + "\r";
    QSignalSpy handled(&p.s(), &Session::replyHandled);
    p.serial.feedNow(burst);
    QCOMPARE(handled.size(), 1600); // every line went through, in order
    QCOMPARE(p.s().state().deviceValues[1], float(399 % 101));
    QCOMPARE(p.s().state().deviceValues[0], float(1 + 399 % 7));
    QTRY_COMPARE(p.status(), u"COM:1 Baud:9600 COM data: line 399"_s);
    QCOMPARE(p.w().statusColor(), MainWindow::colorOf(Session::StatusKind::Reply));
    QCOMPARE(u.lblDis1[1]->text(), u"96"_s);
    QCOMPARE(u.lblDis1[2]->text(), u"29.5"_s);
    const QPalette app = QApplication::palette();
    for (int n = 1; n <= 7; ++n)
        QCOMPARE(u.cmdFpwm[n]->palette().color(QPalette::Button),
                 app.color(n == 1 + 399 % 7 ? QPalette::Highlight : QPalette::Button));
}

void TestMainWindow::operatorInputReachesTheSession()
{
    PanelFixture p;
    const auto &u = p.ui();
    p.identify();
    u.cmdFpwm[5]->click();
    QVERIFY2(p.serial.written.isEmpty(), "the locked frame takes no clicks");
    u.cmdEnableFreq->click();
    u.cmdFpwm[5]->click();
    u.cmd100posto[1]->click();
    u.cmd50posto[2]->click();
    u.cmd0posto[1]->click();
    u.txtSV1[2]->setText(u"42"_s);
    u.cmdSend1[2]->click();
    QCOMPARE(p.serial.writtenText(),
             (QStringList{u"SV01=5\r"_s, u"SV11=100\r"_s, u"PV01?\r"_s, u"SV21=50\r"_s,
                          u"PV02?\r"_s, u"SV11=0\r"_s, u"PV01?\r"_s, u"SV21=42\r"_s}));

    u.cmdSet->click();
    u.txtSet1[1]->setText(u"4"_s);
    u.txtTempName[2]->setText(u"Heater"_s);
    u.cmdExit->click();
    QCOMPARE(p.iniBytes(), "4,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"PWM Out1(%):\",\"Heater\"\r\n"_ba);
    QVERIFY(u.frmSet->isHidden());
    QCOMPARE(u.lblName1[2]->text(), u"Heater"_s);
}

// Every button the operator can press, each on its own: what it writes to the board and what
// it changes in the panel. The setpoint boxes hold 17 and 42.
void TestMainWindow::eachControlsBinding_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("before"); // pressed first: what makes the control usable
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QString>("state");
    for (int i = 1; i <= 2; ++i) {
        const QString set = u"SV%1"_s.arg(i) + u"1="_s, query = u"PV0%1?\r"_s.arg(i);
        for (const int duty : {100, 50, 0})
            QTest::addRow("cmd%dposto_%d", duty, i)
                << u"cmd%1posto_%2"_s.arg(duty).arg(i) << QStringList()
                << QStringList{set + QString::number(duty) + u'\r', query} << u"main"_s;
        QTest::addRow("cmdSend1_%d", i)
            << u"cmdSend1_%1"_s.arg(i) << QStringList()
            << QStringList{set + (i == 1 ? u"17\r"_s : u"42\r"_s)} << u"main"_s;
    }
    for (int n = 1; n <= 7; ++n)
        QTest::addRow("cmdFpwm%d", n) << u"cmdFpwm%1"_s.arg(n) << QStringList{u"cmdEnableFreq"_s}
                                      << QStringList{u"SV01=%1\r"_s.arg(n)} << u"main unlocked"_s;
    QTest::newRow("cmdEnableFreq")
        << u"cmdEnableFreq"_s << QStringList() << QStringList() << u"main unlocked"_s;
    QTest::newRow("cmdSet") << u"cmdSet"_s << QStringList() << QStringList() << u"settings"_s;
    QTest::newRow("cmdHelp") << u"cmdHelp"_s << QStringList() << QStringList() << u"help"_s;
    QTest::newRow("cmdCloseHelp") << u"cmdCloseHelp"_s << QStringList{u"cmdHelp"_s} << QStringList()
                                  << u"main"_s;
    QTest::newRow("cmdExit") << u"cmdExit"_s << QStringList{u"cmdSet"_s} << QStringList()
                             << u"main saved"_s;
}

void TestMainWindow::eachControlsBinding()
{
    QFETCH(QString, control);
    QFETCH(QStringList, before);
    QFETCH(QStringList, written);
    QFETCH(QString, state);
    PanelFixture p;
    p.identify();
    p.ui().txtSV1[1]->setText(u"17"_s);
    p.ui().txtSV1[2]->setText(u"42"_s);
    for (const QString &name : before)
        p.w().findChild<QPushButton *>(name)->click();
    auto *b = p.w().findChild<QPushButton *>(control);
    QVERIFY(b);
    b->click();
    QCOMPARE(p.serial.writtenText(), written);
    QCOMPARE(panelState(p), state);
}

void TestMainWindow::helpAndSettingsViews()
{
    PanelFixture p;
    const auto &u = p.ui();
    u.cmdSet->click();
    QVERIFY(!u.frmSet->isHidden());
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

void TestMainWindow::typingLimitLeavesLoadedLabelsWhole()
{
    const QString longLabel = u"Tank 1 inlet valve, duty (%):"_s;
    const QByteArray file = "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Tank 1 inlet valve, duty (%):\",\"b\"\r\n"_ba;
    PanelFixture p(file);
    const auto &u = p.ui();
    QCOMPARE(u.txtTempName[1]->text(), longLabel);
    QCOMPARE(u.lblName1[1]->text(), longLabel);
    u.cmdSet->click();
    u.cmdExit->click();
    QCOMPARE(p.iniBytes(), file);

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

void TestMainWindow::labelsNeverRenderMarkup()
{
    PanelFixture p("1,\"9600\",\"-\",0,\"<b>x</b>\"\r\n\"<img src=x>\",\"<h1>y</h1>\"\r\n"_ba);
    const QList<QLabel *> labels = p.w().findChildren<QLabel *>();
    QCOMPARE(labels.size(), 6);
    for (const QLabel *l : labels)
        QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));
    p.link.searchStep();
    p.serial.feedNow("<b>x</b>\r");
    QCOMPARE(p.ui().lblDevCode->text(), u"Korvendi: uc=<b>x</b>  pc=pwmpanel"_s);
    QCOMPARE(p.ui().lblName1[1]->text(), u"<img src=x>"_s);
}

void TestMainWindow::valueLabelsNameThemselves()
{
    PanelFixture p;
    const auto &u = p.ui();
    QCOMPARE(u.cmd50posto[2]->accessibleName(), u"Output 2: set 50 percent"_s);
    QCOMPARE(u.txtSV1[1]->accessibleName(), u"Output 1 setpoint"_s);
    // The status line also says how to reach the history, to the ear and on hover.
    QCOMPARE(u.lblStatus->accessibleDescription(),
             u"Status line. Double-click or press Ctrl+L for the history of every line"_s);
    QCOMPARE(u.lblStatus->toolTip(), u"Double-click or press Ctrl+L for the history of every line"_s);
    QCOMPARE(u.lblDis1[2]->accessibleDescription(), u"Output 2 readback"_s);
    // The design texts are never heard: the first values are named at once.
    QCOMPARE(u.lblStatus->accessibleName(), u"wait..."_s);
    QCOMPARE(u.lblName1[1]->accessibleName(), u"PWM Out1(%):"_s);
    QCOMPARE(u.lblName1[2]->accessibleName(), u"PWM Out2(%):"_s);

    // After a quiet spell the first line is named at once; the lines that follow within a
    // quarter second are held back, and the name ends on the last one.
    QTest::qWait(300);
    p.receive("first\r");
    QCOMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: first"_s);
    for (int i = 0; i < 50; ++i)
        p.receive(QByteArray::number(i) + '\r');
    QCOMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: first"_s);
    QTRY_COMPARE(u.lblStatus->accessibleName(), u"COM:1 Baud:9600 COM data: 49"_s);
}

// Input inside a poll's pause is dropped, whatever its kind: no command goes out with the
// poll, and no button is left drawn pressed.
void TestMainWindow::pollHoldsOperatorInput_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("click") << u"click"_s;
    QTest::newRow("double-click") << u"double-click"_s; // as the window system sends it
    QTest::newRow("double-click event alone") << u"double-click event"_s;
    QTest::newRow("space key") << u"space"_s;
}

void TestMainWindow::pollHoldsOperatorInput()
{
    QFETCH(QString, input);
    PanelFixture p(settingsWithSTime(1));
    p.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.w()));
    p.identify();
    p.s().pollTick();
    QPushButton *b = p.ui().cmd50posto[1];
    p.pacer.actions << [&] {
        if (input == u"click") {
            QTest::mouseClick(b, Qt::LeftButton);
        } else if (input == u"double-click") {
            QTest::mouseClick(b, Qt::LeftButton);
            QTest::mousePress(b, Qt::LeftButton);
            QTest::mouseDClick(b, Qt::LeftButton);
            QTest::mouseRelease(b, Qt::LeftButton);
        } else if (input == u"double-click event") {
            QTest::mouseDClick(b, Qt::LeftButton);
            QTest::mouseRelease(b, Qt::LeftButton);
        } else {
            QTest::keyClick(b, Qt::Key_Space);
        }
    };
    p.s().pollTick();
    QCOMPARE(p.serial.writtenText(), QStringList{u"PV01?\r"_s});
    QVERIFY2(!b->isDown(), "the button stays drawn pressed");
    QTest::mouseClick(b, Qt::LeftButton); // after it, clicks work again
    QCOMPARE(p.serial.writtenText().size(), 3);
}

// A press made before input is held is released during the hold without a click; a press
// made during the hold is dropped with its release.
void TestMainWindow::pressBeforeHeldInputIsReleased()
{
    PanelFixture p(settingsWithSTime(1));
    p.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.w()));
    p.identify();
    p.s().pollTick();
    QPushButton *b = p.ui().cmd50posto[1];
    QSignalSpy clicks(b, &QPushButton::clicked);

    QTest::mousePress(b, Qt::LeftButton);
    QVERIFY(b->isDown());
    p.pacer.actions << [&] {
        QTest::mouseRelease(b, Qt::LeftButton);
        QVERIFY2(!b->isDown(), "the button stays drawn pressed");
        QTest::mousePress(b, Qt::LeftButton);
        QTest::keyPress(b, Qt::Key_Space);
    };
    p.s().pollTick();
    QTest::mouseRelease(b, Qt::LeftButton);
    QTest::keyRelease(b, Qt::Key_Space);
    QVERIFY(!b->isDown());
    QCOMPARE(clicks.size(), 0);
    QCOMPARE(p.serial.writtenText(), QStringList{u"PV01?\r"_s});
}

void TestMainWindow::closingAsks()
{
    PanelFixture p;
    p.w().show();
    p.identify();
    p.prompts.exitAnswers = {Prompts::Answer::No, Prompts::Answer::Yes};
    p.w().close();
    QVERIFY(p.w().isVisible());
    QVERIFY(p.serial.portOpen());
    p.w().close();
    QVERIFY(!p.w().isVisible());
    QVERIFY(!p.serial.portOpen());
    QCOMPARE(p.prompts.exitCount, 2);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
