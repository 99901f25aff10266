#include "TestSupport.h"

#include "DataFile/DataFile.h"
#include "console/Twips.h"
#include "platform/FileDialog.h"
#include "platform/Version.h"
#include "testpackets/TestRecords.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpTexts();
    void captionIsBuiltFromTheVersion();
    void controlGeometryInTwips_data();
    void controlGeometryInTwips();
    void clientAreaAndIcon();
    void fonts();
    void tabOrderFollowsTabIndex();
    void focusStartsOnReplyBox();
    void timerRunsEverySecond();
    void startUpOpensNothingAndLogsNothing();
    void closeRightAfterStartUpChangesNothing();
    void logBoxWrapsLongLinesAndScrollsOnlyVertically();
    void fileDialogFilterNamesShowTheirPatternsOnce_data();
    void fileDialogFilterNamesShowTheirPatternsOnce();

private:
    FixedClock clock;
    std::unique_ptr<frmIPNDTCPServer> window;
};

void tst_Window::init()
{
    // Only looked at, never sent from: the fields keep their start-up values.
    WindowSettings settings;
    settings.clock = &clock;
    window = std::make_unique<frmIPNDTCPServer>(settings);
}

void tst_Window::cleanup()
{
    window.reset();
}

void tst_Window::startUpTexts()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("ZENT TCP 000 Test Generator 1.10 (23)"));
    QCOMPARE(window->txbPort->text(), QStringLiteral("50003"));
    QCOMPARE(window->txbAddress->text(), QString::fromLatin1(DefaultServerAddress));
    // A dotted IPv4 address in one of the three private-use ranges (only
    // looked at: nothing is ever sent to it).
    bool isV4 = false;
    const quint32 ip = QHostAddress(window->txbAddress->text()).toIPv4Address(&isV4);
    QVERIFY(isV4);
    QVERIFY((ip >> 24) == 10 || (ip >> 20) == ((172u << 4) | 1) || (ip >> 16) == ((192u << 8) | 168));
    QCOMPARE(window->PktNum->text(), QStringLiteral("10000"));
    QCOMPARE(window->PktPer->text(), QStringLiteral("5"));
    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer"));
    QCOMPARE(window->label22->text(), QStringLiteral("Period"));
    QCOMPARE(window->Label21->text(), QStringLiteral("Packets"));
    QCOMPARE(window->Label1->text(), QStringLiteral("Packets Processed"));
    QCOMPARE(window->cmdClose->text(), QStringLiteral("Close"));
    QCOMPARE(window->Frame1->title(), QStringLiteral("Single Test Packets"));
    QCOMPARE(window->Frame7->title(), QStringLiteral("Cycle Packet Control"));
    const QList<QPushButton *> buttons = {window->cmdStandard, window->cmdLongAdd, window->cmdNoAdd,
                                          window->cmdMinAdd, window->cmdMaxAdd};
    QStringList captions;
    for (QPushButton *b : buttons) {
        captions << b->text();
        QCOMPARE(b->parentWidget(), window->Frame1);
    }
    QCOMPARE(captions, (QStringList{"Standard", "Long", "No Add", "Min", "Max"}));
    QCOMPARE(window->lbIPNDfile->text(), QString());
    QCOMPARE(window->lbProcessed->text(), QString());
    QCOMPARE(window->txbMessage->toPlainText(), QString());
    QCOMPARE(window->txbLog->toPlainText(), QString());
    QCOMPARE(window->TCPConnected, qint16(0));
    QCOMPARE(window->Processed, 0);
}

// The one version the build declares (project(... VERSION)) reaches the
// caption and the file version: bumping it changes both.
void tst_Window::captionIsBuiltFromTheVersion()
{
    const QList<QByteArray> parts = QByteArray(IPND_PROJECT_VERSION).split('.');
    QCOMPARE(parts.size(), 3);
    QCOMPARE(window->windowTitle(), QStringLiteral("ZENT TCP 000 Test Generator %1.%2 (%3)")
                                        .arg(QString::fromLatin1(parts[0]), QString::fromLatin1(parts[1]),
                                             QString::fromLatin1(parts[2])));
    QCOMPARE(QByteArray(Version::FileVersion), parts[0] + '.' + parts[1] + '.' + parts[2].rightJustified(4, '0'));
}

void tst_Window::controlGeometryInTwips_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Frame1") << "Frame1" << "window" << QRect(210, 6195, 7050, 750);
    QTest::newRow("cmdStandard") << "cmdStandard" << "Frame1" << QRect(210, 315, 915, 285);
    QTest::newRow("cmdLongAdd") << "cmdLongAdd" << "Frame1" << QRect(1575, 315, 915, 285);
    QTest::newRow("cmdNoAdd") << "cmdNoAdd" << "Frame1" << QRect(2940, 315, 915, 285);
    QTest::newRow("cmdMinAdd") << "cmdMinAdd" << "Frame1" << QRect(4305, 315, 915, 285);
    QTest::newRow("cmdMaxAdd") << "cmdMaxAdd" << "Frame1" << QRect(5670, 315, 915, 285);
    QTest::newRow("Frame7") << "Frame7" << "window" << QRect(210, 7035, 7080, 975);
    QTest::newRow("lbIPNDfile") << "lbIPNDfile" << "Frame7" << QRect(3675, 525, 3225, 285);
    QTest::newRow("RunControl") << "RunControl" << "Frame7" << QRect(1800, 240, 1455, 255);
    QTest::newRow("PktPer") << "PktPer" << "Frame7" << QRect(840, 600, 615, 285);
    QTest::newRow("PktNum") << "PktNum" << "Frame7" << QRect(840, 210, 615, 285);
    QTest::newRow("timerlabel") << "timerlabel" << "Frame7" << QRect(1800, 600, 1695, 255);
    QTest::newRow("label22") << "label22" << "Frame7" << QRect(120, 600, 615, 255);
    QTest::newRow("Label21") << "Label21" << "Frame7" << QRect(120, 240, 735, 255);
    QTest::newRow("cmdClose") << "cmdClose" << "window" << QRect(3465, 150, 915, 285);
    QTest::newRow("txbAddress") << "txbAddress" << "window" << QRect(1335, 150, 1665, 315);
    QTest::newRow("txbPort") << "txbPort" << "window" << QRect(195, 150, 1035, 315);
    QTest::newRow("lbProcessed") << "lbProcessed" << "window" << QRect(6600, 270, 705, 285);
    QTest::newRow("txbLog") << "txbLog" << "window" << QRect(150, 1500, 7185, 4515);
    QTest::newRow("txbMessage") << "txbMessage" << "window" << QRect(150, 630, 7155, 750);
    QTest::newRow("Label1") << "Label1" << "window" << QRect(5040, 300, 1515, 225);
}

void tst_Window::controlGeometryInTwips()
{
    QFETCH(QString, control);
    QFETCH(QString, parent);
    QFETCH(QRect, twips);
    auto *widget = window->findChild<QWidget *>(control);
    QVERIFY2(widget, qPrintable(control));
    QCOMPARE(widget->parentWidget()->objectName(), parent == QLatin1String("window") ? window->objectName() : parent);
    QCOMPARE(widget->parentWidget() == window.get(), parent == QLatin1String("window"));
    const int dpi = window->logicalDpiX();
    const QRect pixels(twipsToPixels(twips.x(), dpi), twipsToPixels(twips.y(), dpi), twipsToPixels(twips.width(), dpi),
                       twipsToPixels(twips.height(), dpi));
    QCOMPARE(widget->geometry(), pixels);
    if (dpi == 96)
        QCOMPARE(widget->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
}

void tst_Window::clientAreaAndIcon()
{
    QCOMPARE(twipsToPixels(15, 96), 1);
    QCOMPARE(twipsToPixels(1440, 96), 96);
    QCOMPARE(twipsToPixels(1440, 120), 120);
    const int dpi = window->logicalDpiX();
    QCOMPARE(window->size(), QSize(twipsToPixels(7500, dpi), twipsToPixels(8265, dpi)));
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(32, 32)));
    QVERIFY(sizes.contains(QSize(16, 16)));
    for (const QSize &size : sizes) {
        QSet<QRgb> colours;
        const QImage image = window->windowIcon().pixmap(size).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() <= 16, qPrintable(QString::number(colours.size())));
        QVERIFY(colours.size() >= 3);
    }
}

void tst_Window::fonts()
{
    for (QWidget *bold : {static_cast<QWidget *>(window->RunControl), static_cast<QWidget *>(window->timerlabel)}) {
        QCOMPARE(bold->font().family(), QStringLiteral("Arial"));
        QCOMPARE(bold->font().pointSizeF(), 8.25);
        QVERIFY(bold->font().bold());
    }
    QCOMPARE(window->timerlabel->palette().color(QPalette::WindowText), QColor(0, 128, 128));
    QCOMPARE(window->cmdStandard->font(), QApplication::font(window->cmdStandard));
    QVERIFY(!window->cmdClose->font().bold());
    // Every caption fits its control: none is cut off.
    for (QLabel *label : {window->Label1, window->label22, window->Label21, window->timerlabel}) {
        QVERIFY2(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->objectName()));
        QCOMPARE(label->font().family(), label == window->timerlabel ? QStringLiteral("Arial")
                                                                       : QApplication::font(label).family());
    }
}

void tst_Window::tabOrderFollowsTabIndex()
{
    const QList<QWidget *> expected = {window->txbMessage, window->txbLog,     window->lbProcessed, window->txbPort,
                                       window->txbAddress, window->cmdClose,   window->PktNum,      window->PktPer,
                                       window->RunControl, window->cmdMaxAdd,  window->cmdMinAdd,   window->cmdNoAdd,
                                       window->cmdLongAdd, window->cmdStandard, window->lbIPNDfile};
    for (int i = 0; i + 1 < expected.size(); ++i) {
        QWidget *next = expected[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !expected.contains(next))
            next = next->nextInFocusChain();
        QVERIFY2(next == expected[i + 1], qPrintable(expected[i]->objectName() + " -> " + next->objectName()));
    }
}

void tst_Window::focusStartsOnReplyBox()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->focusWidget(), window->txbMessage);
}

void tst_Window::timerRunsEverySecond()
{
    QCOMPARE(window->Timer1->interval(), 1000);
    QVERIFY(window->Timer1->isActive());
    QVERIFY(!window->Timer1->isSingleShot());
}

void tst_Window::startUpOpensNothingAndLogsNothing()
{
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(logLineCount(*window), 0);
    QCOMPARE(window->eventLog().render(), QStringLiteral("\r\n").repeated(100));
}

void tst_Window::closeRightAfterStartUpChangesNothing()
{
    QTest::mouseClick(window->cmdClose, Qt::LeftButton);
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(logLineCount(*window), 0);
    QCOMPARE(window->txbLog->toPlainText(), QString());
}

void tst_Window::logBoxWrapsLongLinesAndScrollsOnlyVertically()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // A record has no blank to break at: it wraps anywhere.
    window->InsertLog(TestRecords::Long);

    QTRY_VERIFY(window->txbLog->toPlainText().contains(QString::fromLatin1(TestRecords::Long)));
    QCOMPARE(window->txbLog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(window->txbLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QTRY_COMPARE_GT(window->txbLog->document()->firstBlock().layout()->lineCount(), 2);
    QCOMPARE(window->txbLog->horizontalScrollBar()->maximum(), 0);
}

void tst_Window::fileDialogFilterNamesShowTheirPatternsOnce_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("data file") << QString::fromLatin1(DataFileFilter)
                               << QStringList{QStringLiteral("Data file (*.dat)"), QStringLiteral("All (*.*)")};
    QTest::newRow("name without its pattern") << QStringLiteral("Text|*.txt;*.log")
                                              << QStringList{QStringLiteral("Text (*.txt *.log)")};
}

void tst_Window::fileDialogFilterNamesShowTheirPatternsOnce()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, names);
    QCOMPARE(qtNameFilters(filter), names);
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
