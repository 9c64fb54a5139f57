#include "layout.h"

#include "colors.h"

namespace Layout {

namespace {

QString indexed(const char *name, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

std::vector<Control> build()
{
    using C = Control;
    std::vector<Control> t;
    t.push_back(C{Kind::Button, QStringLiteral("cmdSet"), {}, QStringLiteral("Set"),
                  {105, 105, 540, 360}, Font::Bold975, 0xFF00FF});
    t.push_back(C{Kind::Label, QStringLiteral("lblStatus"), {}, QStringLiteral("--"),
                  {735, 105, 9270, 360}, Font::Arial975, Unset, Unset, Border});

    t.push_back(C{Kind::Frame, QStringLiteral("FrameF1"), {}, QStringLiteral("Set Pwm Freq.(Hz):"),
                  {105, 525, 6945, 750}, Font::Bold825, Colors::Black, Colors::Highlight,
                  Disabled});
    static const char *const frequencies[] = {"31372", "3921", "980", "490", "245", "122", "30.6"};
    for (int n = 1; n <= 7; ++n)
        t.push_back(C{Kind::Button, QStringLiteral("cmdFpwm%1").arg(n), QStringLiteral("FrameF1"),
                      QLatin1String(frequencies[n - 1]), {210 + 945 * (n - 1), 315, 855, 330},
                      Font::Bold975, Colors::ButtonFace});
    t.push_back(C{Kind::Button, QStringLiteral("cmdEnableFreq"), {},
                  QStringLiteral("Enable Set Pwm Freq."), {7455, 735, 2220, 435}, Font::Default,
                  Colors::ButtonFace});

    for (int i = 1; i <= 2; ++i) {
        const bool first = i == 1;
        const quint32 light = first ? 0xC0C0FF : 0xFFFFC0;
        const QString frame = indexed("frm1", i);
        const QString setFrame = indexed("Frame5", i);
        t.push_back(C{Kind::Frame, frame, {}, QStringLiteral("PWM Out%1:").arg(i),
                      {first ? 105 : 5145, 1365, 4845, 1905}, Font::Bold825, Colors::Black, light});
        t.push_back(C{Kind::Label, indexed("lblDis1", i), frame, QStringLiteral("-"),
                      {210, 315, 2010, 645}, Font::Arial2775, Colors::Black,
                      first ? 0x0000FFu : 0xFFFF00u, Border});
        t.push_back(C{Kind::Label, indexed("lblName1", i), frame,
                      QStringLiteral("Label1 PAGGGGGGGGG"), {210, 1155, 2010, 540}, Font::Bold825,
                      light, Colors::ButtonText, WrapAnywhere});
        t.push_back(C{Kind::Button, indexed("cmd100posto", i), frame, QStringLiteral("100%"),
                      {2415, 315, 855, 330}, Font::Bold975, Colors::ButtonFace});
        t.push_back(C{Kind::Button, indexed("cmd50posto", i), frame, QStringLiteral("50%"),
                      {2415, 840, 855, 330}, Font::Bold975, Colors::ButtonFace});
        t.push_back(C{Kind::Button, indexed("cmd0posto", i), frame, QStringLiteral("0%"),
                      {2415, 1365, 855, 330}, Font::Bold975, Colors::ButtonFace});
        t.push_back(C{Kind::Frame, setFrame, frame, QStringLiteral("Set(0-100%):"),
                      {3465, 210, 1275, 1485}, Font::Bold825, Colors::Black, 0x00C000});
        t.push_back(C{Kind::TextBox, indexed("txtSV1", i), setFrame, QStringLiteral("10"),
                      {210, 315, 855, 285}, Font::Bold975});
        t.push_back(C{Kind::Button, indexed("cmdSend1", i), setFrame, QStringLiteral("Send"),
                      {105, 840, 1065, 435}, Font::Bold975, 0x00C000});
    }

    t.push_back(C{Kind::Button, QStringLiteral("cmdHelp"), {}, QStringLiteral("Hlp"),
                  {105, 3360, 540, 330}, Font::Bold975, Colors::InactiveCaption});
    t.push_back(C{Kind::Label, QStringLiteral("lblDevCode"), {}, QStringLiteral("???"),
                  {840, 3360, 9150, 330}, Font::Sans975, Colors::Black, 0x00FFFF, Border});

    // The settings panel, over the main view.
    t.push_back(C{Kind::Frame, QStringLiteral("frmSet"), {}, QStringLiteral("Settings:"),
                  {105, 105, 9885, 3165}, Font::Bold825, 0x0000C0, Colors::White, Hidden});
    t.push_back(C{Kind::Frame, QStringLiteral("Frame2"), QStringLiteral("frmSet"),
                  QStringLiteral("COM:    Baud:       DevPas:   STime:      ucApp:"),
                  {105, 210, 7365, 540}, Font::Default, Unset, Unset, FillBackground});
    static const int setLeft[] = {0, 105, 735, 1470, 2205, 2940};
    static const int setWidth[] = {0, 540, 645, 645, 645, 2010};
    for (int i = 1; i <= 5; ++i)
        t.push_back(C{Kind::TextBox, indexed("txtSet1", i), QStringLiteral("Frame2"),
                      QStringLiteral("-"), {setLeft[i], 210, setWidth[i], 240}, Font::Default,
                      Unset, Unset, (i == 5 ? AlignLeft : 0) | (i == 4 ? Disabled : 0)});
    t.push_back(C{Kind::Frame, QStringLiteral("Frame3"), QStringLiteral("frmSet"),
                  QStringLiteral("MyLabels:"), {105, 840, 7365, 960}, Font::Default, Unset, Unset,
                  FillBackground});
    for (int i = 1; i <= 2; ++i) {
        t.push_back(C{Kind::Frame, indexed("frmTempName", i), QStringLiteral("Frame3"),
                      QStringLiteral("MyLabel%1:").arg(i), {i == 1 ? 105 : 1785, 210, 1590, 645}});
        t.push_back(C{Kind::TextBox, indexed("txtTempName", i), indexed("frmTempName", i),
                      QStringLiteral("Text2"), {105, 210, 1380, 285}, Font::Default, Unset, Unset,
                      AlignLeft});
    }
    t.push_back(C{Kind::Button, QStringLiteral("cmdExit"), QStringLiteral("frmSet"),
                  QStringLiteral("SAVE-CLOSE"), {5880, 2100, 1590, 435}, Font::Default,
                  Colors::ButtonFace});

    // The help panel, over both.
    t.push_back(C{Kind::Frame, QStringLiteral("frmHelp"), {}, QStringLiteral("Help:"),
                  {105, 105, 9915, 3585}, Font::Default, Colors::Highlight, Colors::White, Hidden});
    t.push_back(C{Kind::TextArea, QStringLiteral("Text1"), QStringLiteral("frmHelp"), {},
                  {105, 210, 7380, 1905}});
    t.push_back(C{Kind::Button, QStringLiteral("cmdCloseHelp"), QStringLiteral("frmHelp"),
                  QStringLiteral("Close"), {6195, 2310, 1275, 360}, Font::Sans975,
                  Colors::InactiveCaption});
    return t;
}

} // namespace

const std::vector<Control> &controls()
{
    static const std::vector<Control> table = build();
    return table;
}

} // namespace Layout
