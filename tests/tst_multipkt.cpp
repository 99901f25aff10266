// The MULTIPKT reassembler and the reading of one period in that mode.

#include "ReplaySupport.h"

namespace {

constexpr qint16 True = -1;
constexpr qint16 False = 0;

const QByteArray NonNumeric = "SFIP: Unable to send packet header: Non Numeric";
const QByteArray Duplicate = "SFIP: Found duplicate sequence pkt";
const QByteArray DumpDuplicate = "SFIP: Dumping duplicate sequence pkt";
const QByteArray NewStart = "SFIP: Found new start sequence pkt";
const QByteArray OutOfSequence = "SFIP: Dumping pkt out of sequence";
const QByteArray Complete = "SFIP: Packet sequence complete";
const QByteArray DifferentTerminal = "SFIP: Found different terminal id in sequence pkt";
const QByteArray OutOfRange = "SFIP: Dumping pkt, part number out of range";
const QByteArray EndOfData = "SFIP: End of data file";

QByteArray partPacket(int part)
{
    return "SFIP: Part packet:[" + QByteArray::number(part) + "]";
}

// A seven-digit header: terminal id, part total, part number.
QByteArray header(int terminal, int total, int part)
{
    return QString::asprintf("%03d%02d%02d", terminal, total, part).toLatin1();
}

// The state a line leaves: counters, the held slots with their texts, the
// completion flag and the record.
QByteArray describe(qint16 count, qint16 expected, const QByteArray &held, qint16 complete,
                    const QByteArray &record)
{
    return "RecordCount " + QByteArray::number(count) + ", ExpectedPart " + QByteArray::number(expected)
           + ", held {" + held + "}, SequenceComplete " + QByteArray::number(complete) + ", CurrentRecord \""
           + record + '"';
}

QByteArray describe(const ReplayState &s)
{
    QList<QByteArray> held;
    for (int slot = 0; slot < ReplayState::Slots; ++slot) {
        if (s.PartState[slot][ReplayState::Received] == -1)
            held.append(QByteArray::number(slot) + '=' + s.PartText[slot]);
        else if (s.PartState[slot][ReplayState::Received] != 0)
            held.append(QByteArray::number(slot) + " flag " + QByteArray::number(s.PartState[slot][ReplayState::Received]));
    }
    return describe(s.RecordCount, s.ExpectedPart, held.join(' '), s.SequenceComplete, s.CurrentRecord);
}

QByteArray outcome(qsizetype line, qint16 result, const QList<QByteArray> &log, const QByteArray &state)
{
    return "line " + QByteArray::number(line) + " returns " + QByteArray::number(result) + "; log {"
           + log.join(" / ") + "}; " + state;
}

struct Step
{
    QByteArray line;
    qint16 result = 0;
    QList<QByteArray> log;
    QByteArray state;
};

} // namespace

Q_DECLARE_METATYPE(Step)

namespace {

// Parts of a sequence that never completes: parts 1 to 10, each logged as a
// part packet, then part 11, which has no slot.
QList<Step> tenPartsThenEleven(int total)
{
    QList<Step> steps;
    QByteArray held;
    for (int part = 1; part <= 10; ++part) {
        const QByteArray text(1, char('a' + part - 1));
        held += (held.isEmpty() ? "" : " ") + QByteArray::number(part) + '=' + text;
        steps.append({header(42, total, part) + text, True, {partPacket(part)},
                      describe(qint16(part), qint16(part), held, 0, "")});
    }
    steps.append({header(42, total, 11) + "k", False, {OutOfRange}, describe(10, 11, held, 0, "")});
    return steps;
}

// A complete ten-part sequence with the texts first, first + 1, ...; the
// record before it stays in CurrentRecord until part 10 completes it.
QList<Step> tenPartSequence(char first, const QByteArray &recordBefore)
{
    QList<Step> steps;
    QByteArray held;
    QByteArray record;
    for (int part = 1; part <= 9; ++part) {
        const QByteArray text(1, char(first + part - 1));
        held += (held.isEmpty() ? "" : " ") + QByteArray::number(part) + '=' + text;
        record += text;
        steps.append({header(42, 10, part) + text, True, {partPacket(part)},
                      describe(qint16(part), qint16(part), held, 0, recordBefore)});
    }
    record += char(first + 9);
    steps.append({header(42, 10, 10) + char(first + 9), True, {Complete}, describe(0, 0, "", -1, record)});
    return steps;
}

} // namespace

class tst_MultiPacket : public QObject
{
    Q_OBJECT

private slots:
    void transitions_data();
    void transitions();
    void nonNumericHeaders_data();
    void nonNumericHeaders();
    void headerFields_data();
    void headerFields();
    void countersStopAtTheirMaximum();
    void endOfFileAndClosedChannel();
    void periodSendsOneRecordPerSequence();
    void periodEndsOnARejectedLineAfterACompletion_data();
    void periodEndsOnARejectedLineAfterACompletion();
    void periodWithARecordTooShortToSend();
    void periodReadsOnAfterADifferentTerminal();
    void periodEndsAtTheEndOfTheFile_data();
    void periodEndsAtTheEndOfTheFile();
    void periodReadsNothingOnceStopped();
    void periodWithTheLinkBusy();
    void linesOfAndOverTheLimit();
};

void tst_MultiPacket::transitions_data()
{
    QTest::addColumn<QList<Step>>("steps");

    const QByteArray empty;
    QTest::newRow("non-numeric header drops the parts") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 3, 2) + "B", True, {partPacket(2)}, describe(2, 2, "1=A 2=B", 0, empty)},
        {"ABCDEFG", False, {NonNumeric}, describe(0, 0, "", 0, empty)},
    };
    QTest::newRow("non-numeric header after a completion") << QList<Step>{
        {header(42, 1, 1) + "ONE", True, {Complete}, describe(0, 0, "", -1, "ONE")},
        {"", False, {NonNumeric}, describe(0, 0, "", -1, "ONE")},
    };
    QTest::newRow("duplicate part 2") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 3, 2) + "B", True, {partPacket(2)}, describe(2, 2, "1=A 2=B", 0, empty)},
        {header(42, 3, 2) + "C", False, {Duplicate, DumpDuplicate}, describe(2, 3, "1=A 2=B", 0, empty)},
        {header(42, 3, 3) + "D", False, {OutOfSequence}, describe(3, 4, "1=A 2=B 3=D", 0, empty)},
        {header(42, 3, 1) + "E", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "1=E", 0, empty)},
        {header(42, 3, 2) + "F", True, {partPacket(2)}, describe(2, 2, "1=E 2=F", 0, empty)},
        {header(42, 3, 3) + "G", True, {Complete}, describe(0, 0, "", -1, "EFG")},
    };
    QTest::newRow("new start, then a part packet") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 3, 2) + "B", True, {partPacket(2)}, describe(2, 2, "1=A 2=B", 0, empty)},
        {header(43, 3, 1) + "C", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "1=C", 0, empty)},
        {header(43, 3, 2) + "D", True, {partPacket(2)}, describe(2, 2, "1=C 2=D", 0, empty)},
        {header(43, 3, 3) + "E", True, {Complete}, describe(0, 0, "", -1, "CDE")},
    };
    QTest::newRow("new start, then complete") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 1, 1) + "B", True, {Duplicate, NewStart, Complete}, describe(0, 0, "", -1, "B")},
    };
    QTest::newRow("slot 0 held through a new start") << QList<Step>{
        {header(42, 1, 0) + "Z", False, {OutOfSequence}, describe(1, 1, "0=Z", 0, empty)},
        {header(42, 2, 1) + "A", False, {OutOfSequence}, describe(2, 2, "0=Z 1=A", 0, empty)},
        {header(42, 2, 1) + "B", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "0=Z 1=B", 0, empty)},
        {header(42, 2, 2) + "C", True, {Complete}, describe(0, 0, "0=Z", -1, "BC")},
    };
    QTest::newRow("out of sequence") << QList<Step>{
        {header(42, 2, 2) + "B", False, {OutOfSequence}, describe(1, 1, "2=B", 0, empty)},
        {header(42, 2, 1) + "A", False, {OutOfSequence}, describe(2, 2, "1=A 2=B", 0, empty)},
        {header(42, 2, 1) + "C", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "1=C", 0, empty)},
        {header(42, 2, 2) + "D", True, {Complete}, describe(0, 0, "", -1, "CD")},
    };
    QTest::newRow("one different terminal id") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(43, 3, 2) + "B", True, {partPacket(2)}, describe(2, 2, "1=A 2=B", 0, empty)},
        {header(42, 3, 3) + "C", False, {DifferentTerminal}, describe(0, 0, "", 0, empty)},
    };
    QTest::newRow("two different terminal ids") << QList<Step>{
        {header(41, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(41, 3, 2) + "B", True, {partPacket(2)}, describe(2, 2, "1=A 2=B", 0, empty)},
        {header(42, 3, 3) + "C", False, {DifferentTerminal, DifferentTerminal}, describe(0, 0, "", 0, empty)},
    };
    QTest::newRow("different terminal keeps the last record") << QList<Step>{
        {header(42, 1, 1) + "X", True, {Complete}, describe(0, 0, "", -1, "X")},
        {header(42, 2, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, "X")},
        {header(43, 2, 2) + "B", False, {DifferentTerminal}, describe(0, 0, "", 0, "X")},
    };
    QTest::newRow("one-part sequence") << QList<Step>{
        {header(42, 1, 1) + "HELLO", True, {Complete}, describe(0, 0, "", -1, "HELLO")},
    };
    QTest::newRow("1, 2, 3 in order") << QList<Step>{
        {header(42, 3, 1) + "first|", True, {partPacket(1)}, describe(1, 1, "1=first|", 0, empty)},
        {header(42, 3, 2) + "second|", True, {partPacket(2)}, describe(2, 2, "1=first| 2=second|", 0, empty)},
        {header(42, 3, 3) + "third", True, {Complete}, describe(0, 0, "", -1, "first|second|third")},
    };
    QTest::newRow("two sequences one after the other") << QList<Step>{
        {header(42, 2, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 2, 2) + "B", True, {Complete}, describe(0, 0, "", -1, "AB")},
        {header(42, 2, 1) + "C", True, {partPacket(1)}, describe(1, 1, "1=C", 0, "AB")},
        {header(42, 2, 2) + "D", True, {Complete}, describe(0, 0, "", -1, "CD")},
    };
    QTest::newRow("seven digits give an empty text") << QList<Step>{
        {header(42, 3, 1), True, {partPacket(1)}, describe(1, 1, "1=", 0, empty)},
        {header(42, 3, 2) + "XYZ", True, {partPacket(2)}, describe(2, 2, "1= 2=XYZ", 0, empty)},
        {header(42, 3, 3), True, {Complete}, describe(0, 0, "", -1, "XYZ")},
    };
    QTest::newRow("part texts taken verbatim") << QList<Step>{
        {header(42, 2, 1) + QByteArray(" \0\xff", 3), True, {partPacket(1)},
         describe(1, 1, "1=" + QByteArray(" \0\xff", 3), 0, empty)},
        {header(42, 2, 2) + "\t| ", True, {Complete}, describe(0, 0, "", -1, QByteArray(" \0\xff\t| ", 6))},
    };
    QTest::newRow("terminal 999 reads as 0") << QList<Step>{
        {header(999, 2, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(0, 2, 2) + "B", True, {Complete}, describe(0, 0, "", -1, "AB")},
    };
    QTest::newRow("terminal 998 is not 999") << QList<Step>{
        {header(998, 2, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(999, 2, 2) + "B", False, {DifferentTerminal}, describe(0, 0, "", 0, empty)},
    };
    QTest::newRow("part 99 reads as part 0") << QList<Step>{
        {header(42, 2, 99) + "X", False, {OutOfSequence}, describe(1, 1, "0=X", 0, empty)},
        {header(42, 2, 0) + "Y", False, {Duplicate, DumpDuplicate}, describe(1, 2, "0=X", 0, empty)},
    };
    QTest::newRow("part 0 stays held after every reset") << QList<Step>{
        {header(42, 2, 0) + "X", False, {OutOfSequence}, describe(1, 1, "0=X", 0, empty)},
        {"garbage", False, {NonNumeric}, describe(0, 0, "0=X", 0, empty)},
        {header(42, 2, 0) + "Y", False, {Duplicate, DumpDuplicate}, describe(0, 1, "0=X", 0, empty)},
        {"", False, {NonNumeric}, describe(0, 0, "0=X", 0, empty)},
        {header(42, 1, 1) + "Z", True, {Complete}, describe(0, 0, "0=X", -1, "Z")},
        {header(42, 1, 0) + "W", False, {Duplicate, DumpDuplicate}, describe(0, 1, "0=X", -1, "Z")},
    };
    QTest::newRow("part total 0 never completes") << tenPartsThenEleven(0);
    QTest::newRow("part total 99 never completes") << tenPartsThenEleven(99);
    QTest::newRow("part total 11 never completes") << tenPartsThenEleven(11);
    // The reset after a completion frees slot 10 too, or the second part 10
    // would be dumped as a duplicate.
    QTest::newRow("two ten-part sequences back to back")
        << tenPartSequence('a', empty) + tenPartSequence('A', "abcdefghij");
    QTest::newRow("part number out of range") << QList<Step>{
        {header(42, 2, 12) + "X", False, {OutOfRange}, describe(0, 1, "", 0, empty)},
        {header(42, 2, 1) + "A", False, {OutOfSequence}, describe(1, 2, "1=A", 0, empty)},
        {header(42, 2, 1) + "B", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "1=B", 0, empty)},
        {header(42, 2, 2) + "C", True, {Complete}, describe(0, 0, "", -1, "BC")},
    };
    QTest::newRow("part number 98 out of range") << QList<Step>{
        {header(42, 2, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 2, 98) + "X", False, {OutOfRange}, describe(1, 2, "1=A", 0, empty)},
    };
    QTest::newRow("1, 3, 2, then a new 1") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 3, 3) + "C", False, {OutOfSequence}, describe(2, 2, "1=A 3=C", 0, empty)},
        {header(42, 3, 2) + "B", False, {OutOfSequence}, describe(3, 3, "1=A 2=B 3=C", 0, empty)},
        {header(42, 3, 1) + "D", True, {Duplicate, NewStart, partPacket(1)}, describe(1, 1, "1=D", 0, empty)},
        {header(42, 3, 2) + "E", True, {partPacket(2)}, describe(2, 2, "1=D 2=E", 0, empty)},
        {header(42, 3, 3) + "F", True, {Complete}, describe(0, 0, "", -1, "DEF")},
    };
    QTest::newRow("record stops at the first free slot") << QList<Step>{
        {header(0, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(0, 3, 12) + "X", False, {OutOfRange}, describe(1, 2, "1=A", 0, empty)},
        {header(0, 3, 3) + "C", True, {partPacket(3)}, describe(2, 3, "1=A 3=C", 0, empty)},
        {header(0, 3, 4) + "D", True, {Complete}, describe(0, 0, "", -1, "A")},
    };
    QTest::newRow("record only from slots 1 to the part total") << QList<Step>{
        {header(0, 1, 12) + "X", False, {OutOfRange}, describe(0, 1, "", 0, empty)},
        {header(0, 1, 2) + "B", True, {Complete}, describe(0, 0, "", -1, empty)},
    };
    QTest::newRow("part total of the last part counts") << QList<Step>{
        {header(42, 3, 1) + "A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {header(42, 2, 2) + "B", True, {Complete}, describe(0, 0, "", -1, "AB")},
    };
    QTest::newRow("blank in front of the header") << QList<Step>{
        {" 420201A", True, {partPacket(1)}, describe(1, 1, "1=A", 0, empty)},
        {"0420202B", True, {Complete}, describe(0, 0, "", -1, "AB")},
    };
}

void tst_MultiPacket::transitions()
{
    QFETCH(QList<Step>, steps);

    QList<QByteArray> lines;
    for (const Step &step : steps)
        lines.append(step.line);
    Replay replay;
    QVERIFY(replay.open(dataFileText(lines, "\n")));
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", 0, ""));

    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        const qint16 result = replay.data.ReadMultiPacketLine();
        QCOMPARE(outcome(i + 1, result, replay.host.takeLog(), describe(replay.data.state())),
                 outcome(i + 1, step.result, step.log, step.state));
    }
    QVERIFY(!replay.data.takeEndOfData());
    QCOMPARE(replay.host.packets, QList<QByteArray>());
}

void tst_MultiPacket::nonNumericHeaders_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("letters") << QByteArray("ABCDEFGtext");
    QTest::newRow("digits and letters") << QByteArray("12ab567text");
    QTest::newRow("| in the header") << QByteArray("042|201text");
    QTest::newRow("blank inside") << QByteArray("04203 1text");
    QTest::newRow("sign inside") << QByteArray("04202-1text");
    QTest::newRow("five digits") << QByteArray("04203");
    QTest::newRow("six digits") << QByteArray("042030");
    QTest::newRow("six digits ending in 1") << QByteArray("042031");
    QTest::newRow("part total 0.") << QByteArray("0420.01text");
    QTest::newRow("part number 0.") << QByteArray("042030.text");
    QTest::newRow("terminal 4.2") << QByteArray("4.20301text");
    QTest::newRow("blanks only") << QByteArray("       text");
    QTest::newRow("TAB in front") << QByteArray("\t420201text");
}

void tst_MultiPacket::nonNumericHeaders()
{
    QFETCH(QByteArray, line);

    Replay replay;
    QVERIFY(replay.open(dataFileText({header(42, 3, 1) + "A", header(42, 3, 2) + "B", line})));
    ReplayState &s = replay.data.state();
    QCOMPARE(replay.data.ReadMultiPacketLine(), True);
    QCOMPARE(replay.data.ReadMultiPacketLine(), True);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{partPacket(1), partPacket(2)}));
    s.CurrentRecord = "earlier";

    QCOMPARE(replay.data.ReadMultiPacketLine(), False);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{NonNumeric});
    QCOMPARE(describe(s), describe(0, 0, "", 0, "earlier"));
    QCOMPARE(s.TerminalId, qint16(0));
    QCOMPARE(s.PartTotal, qint16(0));
    QCOMPARE(s.PartNumber, qint16(2));
    QCOMPARE(s.PartState[1][ReplayState::Terminal], qint16(0));
    QCOMPARE(s.PartState[2][ReplayState::Terminal], qint16(0));
}

void tst_MultiPacket::headerFields_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("terminal");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("part");
    QTest::addColumn<int>("slot"); // the slot the part went to, -1 for none

    QTest::newRow("042 03 01") << QByteArray("0420301") << 42 << 3 << 1 << 1;
    QTest::newRow("terminal 999") << QByteArray("9990301") << 0 << 3 << 1 << 1;
    QTest::newRow("terminal 998") << QByteArray("9980301") << 998 << 3 << 1 << 1;
    QTest::newRow("terminal 000") << QByteArray("0000301") << 0 << 3 << 1 << 1;
    QTest::newRow("part total 99") << QByteArray("0429901") << 42 << 0 << 1 << 1;
    QTest::newRow("part total 98") << QByteArray("0429801") << 42 << 98 << 1 << 1;
    QTest::newRow("part 99") << QByteArray("0420399") << 42 << 3 << 0 << 0;
    QTest::newRow("part 10") << QByteArray("0421010") << 42 << 10 << 10 << 10;
    QTest::newRow("part 11") << QByteArray("0421011") << 42 << 10 << 11 << -1;
    QTest::newRow("blank in front") << QByteArray(" 420301") << 42 << 3 << 1 << 1;
    QTest::newRow("plus in front") << QByteArray("+420301") << 42 << 3 << 1 << 1;
    QTest::newRow("minus in front") << QByteArray("-420301") << -42 << 3 << 1 << 1;
}

void tst_MultiPacket::headerFields()
{
    QFETCH(QByteArray, line);
    QFETCH(int, terminal);
    QFETCH(int, total);
    QFETCH(int, part);
    QFETCH(int, slot);

    Replay replay;
    QVERIFY(replay.open(dataFileText({line + "text"})));
    replay.data.ReadMultiPacketLine();
    const ReplayState &s = replay.data.state();
    QCOMPARE(s.TerminalId, qint16(terminal));
    QCOMPARE(s.PartTotal, qint16(total));
    QCOMPARE(s.PartNumber, qint16(part));
    QCOMPARE(s.ExpectedPart, qint16(1));
    for (int i = 0; i < ReplayState::Slots; ++i) {
        QCOMPARE(s.isHeld(i), i == slot);
        QCOMPARE(s.PartState[i][ReplayState::Terminal], qint16(i == slot ? terminal : 0));
    }
    if (slot >= 0)
        QCOMPARE(s.PartText[slot], QByteArray("text"));
}

void tst_MultiPacket::countersStopAtTheirMaximum()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({header(42, 2, 1) + "A", header(42, 3, 1) + "B"})));
    ReplayState &s = replay.data.state();

    s.ExpectedPart = 32767;
    QCOMPARE(replay.data.ReadMultiPacketLine(), False);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{OutOfSequence});
    QCOMPARE(describe(s), describe(1, 32767, "1=A", 0, ""));

    // RecordCount at its maximum stays there.
    s.PartState[1] = {0, 0, 0};
    s.ExpectedPart = 0;
    s.RecordCount = 32767;
    QCOMPARE(replay.data.ReadMultiPacketLine(), True);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{partPacket(1)});
    QCOMPARE(describe(s), describe(32767, 1, "1=B", 0, ""));
}

void tst_MultiPacket::endOfFileAndClosedChannel()
{
    {
        Replay replay;
        QVERIFY(replay.open(dataFileText({header(42, 1, 1) + "A"})));
        QCOMPARE(replay.data.ReadMultiPacketLine(), True);
        QVERIFY(!replay.data.takeEndOfData());
        QCOMPARE(replay.data.ReadMultiPacketLine(), False);
        QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, EndOfData}));
        QVERIFY(replay.data.takeEndOfData());
        QVERIFY(!replay.data.takeEndOfData());
        QCOMPARE(replay.data.state().CurrentRecord, QByteArray("A"));
        QCOMPARE(replay.data.state().SequenceComplete, True);
    }
    {
        FakeHost host;
        DataFile data(host);
        QCOMPARE(data.ReadMultiPacketLine(), False);
        QCOMPARE(host.takeLog(), QList<QByteArray>{EndOfData});
        QVERIFY(data.takeEndOfData());
        QVERIFY(!data.takeEndOfData());
    }
}

namespace {

const QByteArray FirstRecord = "08903043|890302|2007-11-14";
const QByteArray SecondRecord = "00101573|10306|2007-11-14";

QByteArray packetOf(const QByteArray &code, const QByteArray &record)
{
    return code + QByteArray::number(record.size()).rightJustified(4, '0') + record;
}

const auto always = [] { return true; };

} // namespace

void tst_MultiPacket::periodSendsOneRecordPerSequence()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({
        "garbage",
        header(42, 3, 1) + "08903043|",
        header(42, 3, 2) + "890302|",
        header(42, 3, 3) + "2007-11-14",
        header(43, 2, 1) + "00101573|",
        header(43, 2, 2) + "10306|2007-11-14",
    })));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{NonNumeric, partPacket(1), partPacket(2), Complete,
                                                        "RSFP: Data Sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", -1, FirstRecord));
    QVERIFY(!replay.data.takeEndOfData());

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{partPacket(1), Complete, "RSFP: Data Sent: " + SecondRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("010", SecondRecord)});
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", -1, SecondRecord));
    QVERIFY(!replay.data.takeEndOfData());

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QVERIFY(replay.data.takeEndOfData());
}

void tst_MultiPacket::periodEndsOnARejectedLineAfterACompletion_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<QByteArray>>("log");
    QTest::addColumn<QByteArray>("state");

    QTest::newRow("non-numeric header") << QByteArray("not a header") << QList<QByteArray>{NonNumeric}
                                        << describe(0, 0, "", -1, FirstRecord);
    QTest::newRow("out of sequence") << header(42, 2, 2) + "X" << QList<QByteArray>{OutOfSequence}
                                     << describe(1, 1, "2=X", -1, FirstRecord);
    QTest::newRow("part number out of range") << header(42, 2, 50) + "X" << QList<QByteArray>{OutOfRange}
                                              << describe(0, 1, "", -1, FirstRecord);
}

void tst_MultiPacket::periodEndsOnARejectedLineAfterACompletion()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, log);
    QFETCH(QByteArray, state);

    Replay replay;
    QVERIFY(replay.open(
        dataFileText({header(42, 1, 1) + FirstRecord, line, "not a header", header(43, 1, 1) + SecondRecord})));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, "RSFP: Data Sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});

    // One line, rejected: no record this period.
    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), log);
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), state);

    // The next period reads the next line, and ends on it too.
    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{NonNumeric});
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", -1, FirstRecord));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, "RSFP: Data Sent: " + SecondRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("010", SecondRecord)});
    QVERIFY(!replay.data.takeEndOfData());
}

void tst_MultiPacket::periodWithARecordTooShortToSend()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({header(42, 2, 1) + "0123", header(42, 2, 2) + "456789",
                                      header(42, 1, 1) + FirstRecord})));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{partPacket(1), Complete}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", -1, "0123456789"));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, "RSFP: Data Sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});
}

void tst_MultiPacket::periodReadsOnAfterADifferentTerminal()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({header(41, 2, 1) + "A", header(42, 2, 2) + "B", header(42, 1, 1) + FirstRecord})));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{partPacket(1), DifferentTerminal, Complete,
                                                        "RSFP: Data Sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});
}

void tst_MultiPacket::periodEndsAtTheEndOfTheFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<QByteArray>>("log");
    QTest::addColumn<QByteArray>("state");

    QTest::newRow("empty file") << QByteArray() << QList<QByteArray>{EndOfData} << describe(0, 0, "", 0, "");
    QTest::newRow("sequence cut short") << dataFileText({header(42, 3, 1) + "A", header(42, 3, 2) + "B"})
                                        << QList<QByteArray>{partPacket(1), partPacket(2), EndOfData}
                                        << describe(2, 2, "1=A 2=B", 0, "");
    QTest::newRow("last line without line end") << header(42, 2, 1) + "A\r\n" + header(42, 2, 2) + "B"
                                                << QList<QByteArray>{partPacket(1), Complete}
                                                << describe(0, 0, "", -1, "AB");
    QTest::newRow("rejected lines only") << dataFileText({"x", "", header(42, 2, 2) + "B"})
                                         << QList<QByteArray>{NonNumeric, NonNumeric, OutOfSequence, EndOfData}
                                         << describe(1, 1, "2=B", 0, "");
}

void tst_MultiPacket::periodEndsAtTheEndOfTheFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(QList<QByteArray>, log);
    QFETCH(QByteArray, state);

    Replay replay;
    QVERIFY(replay.open(contents));
    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), log);
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), state);
    QCOMPARE(replay.data.takeEndOfData(), log.last() == EndOfData);
}

void tst_MultiPacket::periodReadsNothingOnceStopped()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({header(42, 2, 1) + "08903043|", header(42, 2, 2) + "890302|2007-11-14"})));

    // Stopped before the period: nothing is read.
    replay.data.ReadMultiPacketPeriod([] { return false; });
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>());
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", 0, ""));
    QVERIFY(!replay.data.takeEndOfData());

    // Stopped after the first line of the period.
    int allowed = 1;
    replay.data.ReadMultiPacketPeriod([&] { return allowed-- > 0; });
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{partPacket(1)});
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(describe(replay.data.state()), describe(1, 1, "1=08903043|", 0, ""));

    // The next period goes on from the line after it.
    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, "RSFP: Data Sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});
}

void tst_MultiPacket::periodWithTheLinkBusy()
{
    Replay replay;
    replay.host.result = SendResult::Busy;
    QVERIFY(replay.open(dataFileText({header(42, 1, 1) + FirstRecord, header(42, 1, 1) + SecondRecord})));

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{Complete, "RSFP: Link busy, not sent: " + FirstRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("090", FirstRecord)});
    QCOMPARE(describe(replay.data.state()), describe(0, 0, "", -1, FirstRecord));

    // Only one line was read: the next period reads the second.
    replay.host.result = SendResult::NoConnection;
    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(),
             (QList<QByteArray>{Complete, "RSFP: No connection, not sent: " + SecondRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("010", SecondRecord)});
}

// A part line of exactly the limit is one line however it meets the read
// chunks; a longer one is rejected whole and drops the parts collected so
// far, and the next line is read as usual.
void tst_MultiPacket::linesOfAndOverTheLimit()
{
    const qsizetype limit = TextInput::DefaultMaxLineLength;
    const QByteArray atLimit = FirstRecord + QByteArray(limit - 7 - FirstRecord.size(), 'y');
    const QByteArray overLimit = header(42, 2, 2) + QByteArray(limit, 'z');
    Replay replay;
    QVERIFY(replay.open(dataFileText({header(42, 1, 1) + atLimit, header(42, 2, 1) + "08903043|", overLimit,
                                      header(42, 2, 1) + "00101573|", header(42, 2, 2) + "10306|2007-11-14"})));
    const QByteArray tooLong = "SFIP: Line too long: " + QByteArray::number(overLimit.size())
                               + " bytes, at most 1048576 allowed";

    replay.data.ReadMultiPacketPeriod(always);
    QVERIFY(replay.host.takeLog() == (QList<QByteArray>{Complete, "RSFP: Data Sent: " + atLimit}));
    QVERIFY(replay.host.takePackets() == QList<QByteArray>{"090" + QByteArray::number(atLimit.size()) + atLimit});

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), (QList<QByteArray>{partPacket(1), tooLong, partPacket(1), Complete,
                                                        "RSFP: Data Sent: " + SecondRecord}));
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packetOf("010", SecondRecord)});

    replay.data.ReadMultiPacketPeriod(always);
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
    QCOMPARE(replay.data.counts().linesRejected, 1);
}

QTEST_GUILESS_MAIN(tst_MultiPacket)
#include "tst_multipkt.moc"
