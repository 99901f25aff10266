#pragma once

#include "DataFile/DataFormat.h"
#include "DataFile/ReplayState.h"
#include "platform/TextInput.h"

#include <QByteArray>
#include <functional>

class DataFileChooser;
class DataFileHost;

inline constexpr char DefaultDataFilePath[] = "c:\\logs\\logs\\ipnd.dat";
inline constexpr char DataFileDialogTitle[] = "IPND Data File";
inline constexpr char DataFileFilter[] = "Data file (*.dat)|*.dat|All (*.*)|*.*";

// Data-file replay: opens the data file (channel 1), reads it one line per
// call in either input format, keeps the replay state, and frames and sends
// the records it yields. Rejected lines are logged with a tag ("SRLP:" for
// the RAWLOG reader, "SFIP:" for the MULTIPKT reassembler, "RSFP:" for sent
// records) and never raise a failure. A line longer than the channel's limit
// is rejected whole with one log line that gives its length.
class DataFile
{
public:
    // Tests and fuzzing pass small limits (see TextInput).
    explicit DataFile(DataFileHost &host, qsizetype maxLineLength = TextInput::DefaultMaxLineLength,
                      qint64 chunkSize = TextInput::DefaultChunkSize)
        : m_host(host), m_channel(maxLineLength, chunkSize)
    {
    }

    // Asks for the file and opens it; a failure is logged, never raised.
    void OpenDataFile(DataFileChooser &chooser);
    void closeDataFile() { m_channel.close(); }
    // Opens the data file on a descriptor opened already (see TextInput).
    void openDataFile(int fd, bool owned) { m_channel.openDescriptor(fd, owned); }
    // Reads lines handed over in memory instead of a file: ipnd-gen replays
    // each record's lines through the readers to know whether it would be sent.
    void openLines() { m_channel.openFeed(); }
    void addLines(const QByteArray &lines) { m_channel.feed(lines); }
    bool hasLine() { return !m_channel.atEnd(); }
    bool isDataFileOpen() const { return m_channel.isOpen(); }

    // One line of RAWLOG: -1 when a record was stored in CurrentRecord, 0
    // when the line was rejected or there was none left.
    qint16 ReadRawLogRecord();
    // One line of MULTIPKT: -1 when the part was stored in sequence (the
    // sequence may now be complete), 0 when it was rejected.
    qint16 ReadMultiPacketLine();
    // A completed period in MULTIPKT mode: reads lines until a sequence is
    // complete and has it sent. Stops early, reading nothing more, once
    // keepReading() says the cycle was stopped, and at the end of the file.
    void ReadMultiPacketPeriod(const std::function<bool()> &keepReading);
    // A completed period of the cycle: in RAWLOG one line is read and its
    // record sent, in MULTIPKT the multi-packet period reading runs.
    // keepReading as above.
    void ReadAndSendPeriod(DataFormat format, const std::function<bool()> &keepReading);
    // Frames CurrentRecord and hands it to the link; returns the packet, or
    // an empty text when the record was too short to send.
    QByteArray SendRecord();

    // True once after a reader found no line to read: the end of the file,
    // or no file open. The cycle stops itself on it.
    bool takeEndOfData() { return std::exchange(m_endOfData, false); }

    // Records the readers yielded, and lines they rejected, since start-up.
    struct Counts
    {
        qint64 linesRead = 0; // lines of the file, whatever became of them
        qint64 recordsRead = 0;
        qint64 linesRejected = 0;
        qint64 recordsTooShort = 0; // read, but 10 characters or fewer: never sent
        qint64 linesInRecords = 0;  // the lines the records read were made of
    };
    const Counts &counts() const { return m_counts; }

    ReplayState &state() { return m_state; }
    const ReplayState &state() const { return m_state; }
    // The log fields in front of the last record the RAWLOG reader accepted,
    // its time stamp first: what a replay at the recorded pace goes by.
    QByteArrayView recordLogFields() const { return QByteArrayView(m_lastLine).first(m_recordAt); }

private:
    bool noLineLeft(const char *endLogLine);
    qint16 reject(const QByteArray &logLine, bool resetSequence);
    QByteArray tooLongText(const char *tag) const;
    void ResetSequence() { m_state.ResetSequence(); }
    void log(const QByteArray &line);
    void notSent(const QByteArray &line);

    DataFileHost &m_host;
    ReplayState m_state;
    TextInput m_channel;
    bool m_endOfData = false;
    Counts m_counts;
    QByteArray m_lastLine; // the last line accepted, shared, not copied
    qsizetype m_recordAt = 0;
};
