// Received bytes through the whole receive path: the board link's receive handler, the line
// assembler, the decoder and the session, with the fake serial control delivering the bytes
// in chunks whose size is taken from the input itself. No window: what it would show is
// taken from the session's signals.
//
// Checked for every input, against a plain model of the line rules (LF dropped, CR ends a
// line, empty lines dropped, more than MaxLine bytes is too long):
//   - the unfinished line never holds more than MaxLine + 1 bytes;
//   - one replyHandled per line;
//   - the status text and read-back label of the last line are what that line asks for.
#include "fuzzcheck.h"
#include "link/lineassembler.h"
#include "link/replynumber.h"
#include "support/sessionfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

const QString UcApp = QStringLiteral("ORVIX7");

struct Panel {
    QTemporaryDir dir;
    FakeSerialControl serial;
    ScriptedPacer pacer;
    ScriptedPrompts prompts;
    BoardLink link{serial, pacer};
    Session *session = nullptr;
    Screen screen;
    int handled = 0;
};

Panel *panel = nullptr;

struct Expected {
    int lines = 0;
    QByteArray last; // at most MaxLine + 1 bytes, like the assembler keeps
    bool lastTooLong = false;
};

Expected modelLines(const uint8_t *data, size_t size)
{
    Expected e;
    QByteArray current;
    qsizetype length = 0; // of the current line, without its LFs
    for (size_t i = 0; i < size; ++i) {
        const char c = char(data[i]);
        if (c == '\n')
            continue;
        if (c == '\r') {
            if (length > 0) {
                ++e.lines;
                e.last = current;
                e.lastTooLong = length > LineAssembler::MaxLine;
            }
            current.clear();
            length = 0;
            continue;
        }
        if (length <= LineAssembler::MaxLine)
            current.append(c);
        ++length;
    }
    return e;
}

int prefixIndex(const QString &line)
{
    if (line.startsWith(u"SV01="))
        return 0;
    if (line.startsWith(u"SV11="))
        return 1;
    if (line.startsWith(u"SV21="))
        return 2;
    return -1;
}

void checkLastLine(const Expected &e)
{
    const QString status = panel->screen.status;
    if (e.lastTooLong) {
        FUZZ_CHECK(status == u"???");
        return;
    }
    const QString line = QString::fromLatin1(e.last);
    const int index = prefixIndex(line);
    std::optional<float> value;
    if (index >= 0) {
        value = ReplyNumber::toSingle(ReplyNumber::read(QStringView(line).mid(5)));
        if (!value) {
            FUZZ_CHECK(status == u"???");
            return;
        }
    }
    if (line == UcApp)
        FUZZ_CHECK(status == QStringLiteral("Found: ") + UcApp);
    else
        FUZZ_CHECK(status == QStringLiteral("COM:1 Baud:9600 COM data: ") + line);
    if (index >= 1) {
        const float stored = panel->session->state().deviceValues[index];
        FUZZ_CHECK(stored == *value || (std::isnan(*value) && std::isnan(stored)));
        FUZZ_CHECK(panel->screen.readback[index] == ReplyNumber::format(*value));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv); // kept for the whole run
    panel = new Panel;
    if (!panel->dir.isValid())
        std::abort();
    std::atexit([] { panel->dir.remove(); }); // the session and the app are never torn down
    QFile ini(panel->dir.filePath(QStringLiteral("fuzz_replies.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        std::abort();
    ini.write("1,\"9600\",\"-\",5,\"" + UcApp.toLatin1() + "\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n");
    ini.close();
    panel->session = new Session(ExecutableIdentity{panel->dir.path(), QStringLiteral("fuzz_replies")},
                                 panel->link, panel->prompts);
    panel->screen.watch(*panel->session);
    QObject::connect(panel->session, &Session::replyHandled, [] { ++panel->handled; });
    panel->session->start();
    if (panel->session->state().ucApp != UcApp)
        std::abort();
    // What is set up on first use is set up here, not during the first input, whose leak
    // check would see it.
    panel->serial.feedNow(UcApp.toLatin1() + "\rSV01=1\rSV11=1\rSV21=1\rSV11=&H7FFFFFFF\r-\r");
    QCoreApplication::sendPostedEvents();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Panel &p = *panel;
    // The bytes arrive in pieces whose size comes from the input itself: 0 means all at once.
    static constexpr qsizetype Chunks[] = {0, 1, 2, 3, 7, 64, 4096};
    unsigned mix = 0;
    for (size_t i = 0; i < size; i += 97)
        mix = mix * 31 + data[i];
    const qsizetype chunk = Chunks[(mix + size) % std::size(Chunks)];
    p.serial.calls.clear(); // the fake keeps a log; it must not grow from input to input

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Expected expected = modelLines(data, size);
    p.handled = 0;
    if (chunk == 0) {
        p.serial.feedNow(bytes);
    } else {
        for (qsizetype at = 0; at < bytes.size(); at += chunk)
            p.serial.feedNow(bytes.mid(at, chunk));
    }

    const LineAssembler &rx = p.link.assembler();
    FUZZ_CHECK(p.serial.inBufferCount() == 0);
    FUZZ_CHECK(rx.pending().size() <= LineAssembler::MaxLine + 1);
    FUZZ_CHECK(rx.pendingTooLong() == (rx.pending().size() > LineAssembler::MaxLine));
    FUZZ_CHECK(p.handled == expected.lines);
    if (expected.lines > 0)
        checkLastLine(expected);

    QCoreApplication::sendPostedEvents(); // nothing may pile up between inputs

    // End whatever is left unfinished, so that the next input starts from nothing.
    const bool unfinished = !rx.pending().isEmpty();
    p.handled = 0;
    p.serial.feedNow(QByteArrayLiteral("\r"));
    FUZZ_CHECK(p.handled == (unfinished ? 1 : 0));
    FUZZ_CHECK(rx.pending().isEmpty() && !rx.pendingTooLong());
    return 0;
}
