#pragma once

#include "lineassembler.h"
#include "paneltimer.h"
#include "protocol.h"

#include <QObject>

#include <chrono>

class LineTap;
class Pacer;
class SerialControl;

// The panel's side of the line to the board. Its slots are commands; its signals are the
// board's decoded replies and what happens to the link.
//
// The search: while it runs, every SearchInterval the port is set up and opened (if it is
// not open yet) and "I?" is sent; ReplyTimeout after the first of those without any reply
// line, replyTimedOut() follows. A reply line that is the expected name ends the search.
class BoardLink : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds SearchInterval{2500};
    static constexpr std::chrono::milliseconds ReplyTimeout{5000};

    // Who wrote to the port last, so that a refusal the device reports later can be answered
    // as that writer's own failure would be.
    enum class Writer { Search, Sender, Direct };

    BoardLink(SerialControl &serial, Pacer &pacer, QObject *parent = nullptr);

    // Line settings, applied while the port is closed. A failure code, or 0.
    int setPort(int number);
    int setSpeed(const QString &baud); // "9600" and the like; 8 data bits, no parity, 1 stop
    void setExpectedName(const QString &name) { m_expectedName = name; }
    // Who is shown every line received and every command sent; none by default.
    void setTap(LineTap *tap) { m_tap = tap; }

    void startSearch(); // a running search keeps its count
    void stopSearch();
    bool isSearching() const { return m_search.isEnabled(); }

    // One command and its CR in one write; false when the port is closed or refuses it.
    // `client` is who asked for it: 0 the panel, above 0 a client of the share.
    bool transmit(const QString &command, int client = 0);
    // The same for the read-back and polling queries: 0, or the failure code.
    int writeDirect(const QString &command);
    // The pause after a command (see Pacer).
    void pause();

    void close();
    // Closes the port and stops both timers: the panel is going away.
    void shutDown();

    // What the timers run on each tick.
    void searchStep();
    void replyTimeoutExpired();

    const PanelTimer &searchTimer() const { return m_search; }
    const PanelTimer &replyTimer() const { return m_replyTimeout; }
    const LineAssembler &assembler() const { return m_assembler; }

signals:
    // A search step begins: the line settings were accepted and the port is being opened.
    void searching();
    // A step of the search failed with this code; the search goes on.
    void searchFailed(int code);
    // No reply line came within ReplyTimeout of the search's first step.
    void replyTimedOut();
    // Every byte read from the port, as it came, before its lines are handled.
    void bytesReceived(const QByteArray &bytes);
    // One received line, in order.
    void replyReceived(const Protocol::Reply &reply);
    // The open port failed under us (device unplugged); the port is closed.
    void linkLost(int code);
    // The device refused bytes after they had been handed over; the port is closed.
    void writeRefused(BoardLink::Writer writer);

private:
    void receive();
    int write(const QString &command, int client = 0); // the output code; the tap sees what went out
    void handleLine(const LineAssembler::Line &line);

    SerialControl &m_serial;
    Pacer &m_pacer;
    QString m_baud;
    QString m_expectedName;
    LineTap *m_tap = nullptr;
    LineAssembler m_assembler;
    Writer m_lastWriter = Writer::Search;
    PanelTimer m_search;
    PanelTimer m_replyTimeout;
};
