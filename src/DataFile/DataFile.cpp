#include "DataFile/DataFile.h"

#include "DataFile/DataFileHost.h"
#include "DataFile/Framing.h"
#include "DataFile/RecordTests.h"
#include "DataFile/TCPIPNDserver.h"
#include "platform/FileDialog.h"
#include "platform/PlatformError.h"

#include <algorithm>

namespace {
constexpr qsizetype DateLength = 19;
constexpr int FieldPasses = 3;
constexpr qsizetype FieldScan = 100;
constexpr qsizetype HeaderLength = 7;
constexpr int HighestPart = 10;
} // namespace

void DataFile::log(const QByteArray &line)
{
    m_host.InsertLog(line);
}

void DataFile::notSent(const QByteArray &line)
{
    log(line);
    m_host.recordNotSent(line);
}

void DataFile::OpenDataFile(DataFileChooser &chooser)
{
    try {
        const QString defaultPath = QString::fromLatin1(DefaultDataFilePath);
        chooser.showDataFilePath(defaultPath);
        FileDialog &dialog = chooser.dataFileDialog();
        QString source = defaultPath; // the chosen name is taken from the dialog itself
        chooser.OpenDialogBox(dialog, QString::fromLatin1(DataFileDialogTitle), source,
                              QString::fromLatin1(DataFileFilter));
        m_channel.open(dialog.FileName);
        chooser.showDataFilePath(dialog.FileName);
    } catch (const PlatformError &failure) {
        m_host.InsertLogText(QStringLiteral("Unable to open log file, windows reports: ") + failure.description);
    }
}

bool DataFile::noLineLeft(const char *endLogLine)
{
    if (!m_channel.atEnd())
        return false;
    log(endLogLine);
    m_endOfData = true;
    return true;
}

qint16 DataFile::reject(const QByteArray &logLine, bool resetSequence)
{
    log(logLine);
    if (resetSequence)
        ResetSequence();
    ++m_counts.linesRejected;
    m_host.lineRejected(logLine);
    return 0;
}

QByteArray DataFile::tooLongText(const char *tag) const
{
    return tag + QByteArray(" Line too long: ") + QByteArray::number(m_channel.tooLongLength())
        + " bytes, at most " + QByteArray::number(m_channel.maxLineLength()) + " allowed";
}

qint16 DataFile::ReadRawLogRecord()
{
    if (noLineLeft("SRLP: End of data file"))
        return 0;
    const QByteArray line = m_channel.readLine();
    ++m_counts.linesRead;
    if (m_channel.lineTooLong())
        return reject(tooLongText("SRLP:"), true);

    if (!isDateText(line.left(DateLength)))
        return reject("SRLP: Not a valid record", true);

    // Up to three leading log fields, each ended by a TAB within the first 100
    // characters of what is left.
    qsizetype start = 0;
    for (int pass = 0; pass < FieldPasses; ++pass) {
        const QByteArrayView rest = QByteArrayView(line).sliced(start);
        const qsizetype tab = rest.first(std::min(FieldScan, rest.size())).indexOf('\t');
        if (tab < 0)
            break;
        start += tab + 1;
    }
    const QByteArray text = start > 0 ? line.sliced(start) : line;

    if (!isNumberText(text.mid(2, 6)))
        return reject("SRLP: Unable to send packet. Header is Non Numeric", true);
    increment(m_state.RecordCount);
    m_state.CurrentRecord = text;
    m_lastLine = line;
    m_recordAt = start;
    ++m_counts.recordsRead;
    ++m_counts.linesInRecords;
    m_host.recordRead();
    return -1;
}

QByteArray DataFile::SendRecord()
{
    const QByteArray record = m_state.CurrentRecord;
    const QByteArray packet = Framing::framePacket(record);
    if (packet.isEmpty()) {
        ++m_counts.recordsTooShort;
        m_host.recordTooShort(record);
        return {};
    }
    // The log names the record that was framed: a tick nested in the wait
    // for the connection may have read the next one meanwhile.
    switch (m_host.SendTCPPacket(packet)) {
    case SendResult::Sent: {
        // One allocation: this line is made for every record.
        static constexpr QByteArrayView sent = "RSFP: Data Sent: ";
        QByteArray line;
        line.reserve(sent.size() + record.size());
        line.append(sent).append(record);
        log(line);
        break;
    }
    case SendResult::Busy:
        notSent("RSFP: Link busy, not sent: " + record);
        break;
    case SendResult::NoConnection:
        notSent("RSFP: No connection, not sent: " + record);
        break;
    case SendResult::Withheld: // the host has said why
        break;
    }
    return packet;
}

qint16 DataFile::ReadMultiPacketLine()
{
    if (noLineLeft("SFIP: End of data file"))
        return 0;
    const QByteArray line = m_channel.readLine();
    ++m_counts.linesRead;
    if (m_channel.lineTooLong())
        return reject(tooLongText("SFIP:"), true);
    ReplayState &s = m_state;

    const std::optional<int> terminal = wholeNumber(line.mid(0, 3));
    const std::optional<int> total = wholeNumber(line.mid(3, 2));
    const std::optional<int> part = wholeNumber(line.mid(5, 2));
    // A line shorter than its header lacks a field, however its digits read.
    if (line.size() < HeaderLength || !isNumberText(line.left(HeaderLength)) || !terminal || !total || !part)
        return reject("SFIP: Unable to send packet header: Non Numeric", true);
    s.TerminalId = qint16(*terminal % 999);
    s.PartTotal = qint16(*total % 99);
    increment(s.ExpectedPart);
    s.PartNumber = qint16(*part % 99);

    if (s.PartNumber < 0 || s.PartNumber > HighestPart)
        return reject("SFIP: Dumping pkt, part number out of range", false);

    if (s.isHeld(s.PartNumber)) {
        log("SFIP: Found duplicate sequence pkt");
        if (s.PartNumber != 1)
            return reject("SFIP: Dumping duplicate sequence pkt", false);
        log("SFIP: Found new start sequence pkt");
        s.freeSlots();
        s.RecordCount = 0;
        s.ExpectedPart = 1;
    }

    s.PartState[s.PartNumber][ReplayState::Received] = -1;
    s.PartState[s.PartNumber][ReplayState::Terminal] = s.TerminalId;
    s.PartText[s.PartNumber] = line.mid(HeaderLength);
    increment(s.RecordCount);

    if (s.PartNumber != s.ExpectedPart)
        return reject("SFIP: Dumping pkt out of sequence", false);
    if (s.RecordCount != s.PartTotal) {
        log("SFIP: Part packet:[" + QByteArray::number(s.PartNumber) + "]");
        s.SequenceComplete = 0;
        return -1;
    }

    const int lastSlot = std::min<int>(s.PartTotal, HighestPart);
    static constexpr char differentTerminal[] = "SFIP: Found different terminal id in sequence pkt";
    bool terminalsDiffer = false;
    for (int slot = 1; slot <= lastSlot; ++slot) {
        if (s.PartState[slot][ReplayState::Terminal] != s.TerminalId) {
            log(differentTerminal);
            terminalsDiffer = true;
        }
    }
    if (terminalsDiffer) {
        ResetSequence();
        ++m_counts.linesRejected;
        m_host.lineRejected(differentTerminal);
        return 0;
    }

    s.SequenceComplete = -1;
    log("SFIP: Packet sequence complete");
    s.CurrentRecord.clear();
    for (int slot = 1; slot <= lastSlot && s.isHeld(slot); ++slot) {
        s.CurrentRecord += s.PartText[slot];
        ++m_counts.linesInRecords;
    }
    ResetSequence();
    ++m_counts.recordsRead;
    m_host.recordRead();
    return -1;
}

void DataFile::ReadMultiPacketPeriod(const std::function<bool()> &keepReading)
{
    do {
        if (!keepReading())
            return;
        const qint16 stored = ReadMultiPacketLine();
        if (m_endOfData) // left set for the cycle, which stops on it
            return;
        if (stored && m_state.SequenceComplete)
            SendRecord();
    } while (!m_state.SequenceComplete);
}

void DataFile::ReadAndSendPeriod(DataFormat format, const std::function<bool()> &keepReading)
{
    if (format == DataFormat::RawLog) {
        if (ReadRawLogRecord())
            SendRecord();
    } else {
        ReadMultiPacketPeriod(keepReading);
    }
}
