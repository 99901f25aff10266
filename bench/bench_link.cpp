// Link benchmark: how much the window's send path costs per record compared
// with a plain socket client doing the same exchange, how much CPU the window
// burns while a connection is pending, and what one event log insert costs.
//
// Every connection goes to 127.0.0.1, to listeners this program opens itself
// on port 0. Every loop is bounded in count and in time.

#include "console/frmIPNDTCPServer.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"
#include "BenchSupport.h"
#include "testpackets/TestRecords.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int IoTimeoutMs = 2000;          // one exchange, either side
constexpr int ConnectTimeoutMs = 2000;     // the window's connect timeout
constexpr int WarmupRecords = 100;         // per client, before the rounds
constexpr int Rounds = 7;                  // paired link / plain rounds, taking turns at going first
constexpr double BatchBudgetSeconds = 8.0; // one timed batch stops after this
constexpr double RatioTarget = 1.3;
constexpr double CpuTargetPercent = 2.0;
constexpr int LogLineLength = 713;

int remainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? int(left) : 0;
}

// A listening socket on 127.0.0.1 with a port the system picks; -1 on failure.
int listenOnLoopback(int backlog, uint16_t &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// The receiving end: a plain socket server on its own thread. For each
// connection it reads the expected number of bytes, answers "ACK", waits for
// the client to close, closes, and takes the next connection.
class Receiver
{
public:
    static constexpr char Reply[] = "ACK";
    static constexpr size_t ReplySize = sizeof Reply - 1;

    bool start(size_t expectedBytes)
    {
        m_expected = expectedBytes;
        m_listenFd = listenOnLoopback(128, m_port);
        if (m_listenFd < 0)
            return false;
        m_thread = std::thread([this] { run(); });
        return true;
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
    }

    ~Receiver() { stop(); }

    uint16_t port() const { return m_port; }
    long served() const { return m_served; }
    long failures() const { return m_failures; }

private:
    void run()
    {
        while (!m_stop) {
            pollfd p{m_listenFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            if (serve(fd))
                ++m_served;
            else
                ++m_failures;
            ::close(fd);
        }
    }

    // Waits until fd is readable or the deadline passes.
    static bool readable(int fd, SteadyClock::time_point deadline)
    {
        pollfd p{fd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, remainingMs(deadline));
        } while (r < 0 && errno == EINTR);
        return r > 0;
    }

    bool serve(int fd)
    {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(IoTimeoutMs);
        char buffer[4096];
        size_t received = 0;
        while (received < m_expected) {
            if (!readable(fd, deadline))
                return false;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            received += size_t(n);
        }
        if (::send(fd, Reply, ReplySize, MSG_NOSIGNAL) != ssize_t(ReplySize))
            return false;
        // The client closes once it has the reply.
        for (;;) {
            if (!readable(fd, deadline))
                return false;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == ECONNRESET; // an abortive close is a close too
        }
    }

    int m_listenFd = -1;
    uint16_t m_port = 0;
    size_t m_expected = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_served{0};
    std::atomic<long> m_failures{0};
    std::thread m_thread;
};

// One exchange the plain way: connect, send the record, read the reply, close.
bool plainExchange(uint16_t port, const QByteArray &record)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    timeval timeout{IoTimeoutMs / 1000, (IoTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const sockaddr_in address = loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
              && ::send(fd, record.constData(), size_t(record.size()), MSG_NOSIGNAL) == record.size();
    size_t received = 0;
    char buffer[64];
    while (ok && received < Receiver::ReplySize) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            ok = false;
        else
            received += size_t(n);
    }
    ::close(fd);
    return ok;
}

// Wakes the event loop now and then, so that a wait for an event that never
// comes still gets to look at its own deadline.
class Watchdog
{
public:
    Watchdog() { m_timer.setInterval(100); }
    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }

private:
    QTimer m_timer;
};

struct LinkPhases
{
    double sendSeconds = 0;  // inside SendTCPPacket: connect and hand over the record
    double replySeconds = 0; // after it: until the reply has been handled
};

// SendTCPPacket, with a refused send turned into a false return.
bool trySend(frmIPNDTCPServer &window, const QByteArray &record)
{
    try {
        window.SendTCPPacket(record);
        return true;
    } catch (const PlatformError &failure) {
        std::printf("      send refused: %s (error %d)\n", qPrintable(failure.description), failure.number);
        return false;
    }
}

// One exchange through the window: send, then run events until the reply has
// been handled.
bool linkExchange(frmIPNDTCPServer &window, const QByteArray &record, LinkPhases *phases = nullptr)
{
    const qint32 before = window.Processed;
    const auto start = SteadyClock::now();
    const auto deadline = start + std::chrono::milliseconds(IoTimeoutMs + ConnectTimeoutMs);
    const bool handedOver = trySend(window, record);
    const auto sent = SteadyClock::now();
    while (handedOver && window.Processed == before && SteadyClock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (phases) {
        phases->sendSeconds += std::chrono::duration<double>(sent - start).count();
        phases->replySeconds += secondsSince(sent);
    }
    if (window.Processed == before) {
        // Leave the link free for whatever comes next.
        if (window.wskMessage->State() != Socket::Closed)
            window.wskMessage->Close();
        return false;
    }
    return true;
}

// The same exchange with a bare QTcpSocket on the same event loop, none of
// the window's handlers: it shows what the Qt socket layer alone costs.
bool bareQtExchange(uint16_t port, const QByteArray &record)
{
    QTcpSocket socket;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(IoTimeoutMs + ConnectTimeoutMs);
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    while (socket.state() != QAbstractSocket::ConnectedState && socket.state() != QAbstractSocket::UnconnectedState
           && SteadyClock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (socket.state() != QAbstractSocket::ConnectedState)
        return false;
    socket.write(record);
    while (socket.bytesAvailable() < qint64(Receiver::ReplySize)
           && socket.state() == QAbstractSocket::ConnectedState && SteadyClock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const bool ok = socket.bytesAvailable() >= qint64(Receiver::ReplySize);
    socket.readAll();
    socket.abort();
    return ok;
}

double threadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return cpuSeconds(usage);
}

struct Batch
{
    int done = 0;
    double seconds = 0;
    double threadCpuSeconds = 0; // CPU of the sending thread alone
    bool failed = false;
    bool budgetHit = false;
    double microsPerRecord() const { return done ? seconds * 1e6 / done : 0.0; }
};

template <typename Exchange>
Batch runBatch(int count, Exchange exchange)
{
    Batch batch;
    const double cpuStart = threadCpuSeconds();
    const auto start = SteadyClock::now();
    for (int i = 0; i < count; ++i) {
        if (!exchange()) {
            batch.failed = true;
            break;
        }
        ++batch.done;
        if (secondsSince(start) > BatchBudgetSeconds) {
            batch.budgetHit = batch.done < count;
            break;
        }
    }
    batch.seconds = secondsSince(start);
    batch.threadCpuSeconds = threadCpuSeconds() - cpuStart;
    return batch;
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size();
}

int parseCount(const char *text, int fallback)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!end || *end || value < 1 || value > 1000000)
        return fallback;
    return int(value);
}

void pointWindowAt(frmIPNDTCPServer &window, uint16_t port)
{
    window.txbAddress->setText(QStringLiteral("127.0.0.1"));
    window.txbPort->setText(QString::number(port));
}

} // namespace

int main(int argc, char **argv)
{
    int records = 2000;
    int logCalls = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--records" && i + 1 < argc) {
            records = parseCount(argv[++i], -1);
        } else if (arg == "--log-calls" && i + 1 < argc) {
            logCalls = parseCount(argv[++i], -1);
        } else if (arg == "--help" || arg == "-h") {
            std::printf("usage: ipnd-bench [--records N] [--log-calls M]\n");
            return 0;
        } else {
            std::fprintf(stderr, "ipnd-bench: unknown argument %s\n", arg.c_str());
            return 2;
        }
        if (records < 0 || logCalls < 0) {
            std::fprintf(stderr, "ipnd-bench: a count is a whole number from 1 to 1000000\n");
            return 2;
        }
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    frmIPNDTCPServer window;
    window.Timer1->stop();
    // Nothing is ever sent before the window points at our own receiver.
    window.txbAddress->setText(QStringLiteral("127.0.0.1"));
    window.txbPort->clear();
    window.wskMessage->setConnectTimeout(ConnectTimeoutMs);

    const QByteArray &record = TestRecords::Standard;
    bool allMeasured = true;
    const auto runStart = SteadyClock::now();

    std::printf("ipnd-bench: link send path, Qt %s, %u cores\n", qVersion(), std::thread::hardware_concurrency());

    // 1 and 2: time per record, the window's link against a plain client.
    Receiver receiver;
    if (!receiver.start(size_t(record.size()))) {
        std::printf("receiver: cannot listen on 127.0.0.1: %s\n", std::strerror(errno));
        return 1;
    }
    pointWindowAt(window, receiver.port());
    const uint16_t port = receiver.port();

    const qsizetype objectsBefore = window.wskMessage->children().size();
    const qsizetype descriptorsBefore = openDescriptors();
    Watchdog watchdog;
    watchdog.start();
    LinkPhases phases;
    auto link = [&] { return linkExchange(window, record, &phases); };
    auto plain = [&] { return plainExchange(port, record); };

    std::printf("\n[1-2] time per record: %d exchanges of %lld bytes + 3-byte reply, fresh connection each,\n"
                "      receiver = plain socket server thread on 127.0.0.1:%u\n",
                records, static_cast<long long>(record.size()), unsigned(port));

    const Batch warmLink = runBatch(WarmupRecords, link);
    const Batch warmPlain = runBatch(WarmupRecords, plain);
    std::vector<double> linkRounds, plainRounds;
    bool exchangeFailed = warmLink.failed || warmPlain.failed;
    bool budgetHit = false;
    phases = {};
    int linkRecordsTimed = 0, plainRecordsTimed = 0;
    double linkCpu = 0, plainCpu = 0;
    for (int round = 1; round <= Rounds && !exchangeFailed; ++round) {
        // Each pair shares the machine's mood of the moment; who goes first
        // changes from one round to the next.
        Batch l, p;
        if (round % 2) {
            l = runBatch(records, link);
            p = runBatch(records, plain);
        } else {
            p = runBatch(records, plain);
            l = runBatch(records, link);
        }
        exchangeFailed = l.failed || p.failed;
        budgetHit = budgetHit || l.budgetHit || p.budgetHit;
        if (exchangeFailed)
            break;
        linkRecordsTimed += l.done;
        plainRecordsTimed += p.done;
        linkCpu += l.threadCpuSeconds;
        plainCpu += p.threadCpuSeconds;
        linkRounds.push_back(l.microsPerRecord());
        plainRounds.push_back(p.microsPerRecord());
        std::printf("      round %d: link %8.1f us/record (%d)   plain %7.1f us/record (%d)\n", round,
                    l.microsPerRecord(), l.done, p.microsPerRecord(), p.done);
    }
    // Where the link's time goes: the bare Qt socket exchange, and the
    // window's display work that each exchange does (three log lines, each
    // re-rendering the whole log, and the reply shown in txbMessage).
    Batch bare;
    double shortInsertUs = 0, replyShowUs = 0;
    if (!exchangeFailed && !linkRounds.empty()) {
        bare = runBatch(records, [&] { return bareQtExchange(port, record); });
        const QByteArray exchangeLines[] = {
            "TCP TCP Originate: Local port <" + QByteArray::number(port) + "> Local IP <127.0.0.1 > ",
            "Event: Connected", "Event: <127.0.0.1> Data Pkt Rxd"};
        const int calls = std::min(records, 1000);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < calls; ++i)
            window.InsertLog(exchangeLines[i % 3]);
        shortInsertUs = double(timer.nsecsElapsed()) / 1e3 / calls;
        const QString replyText = window.txbMessage->toPlainText();
        timer.restart();
        for (int i = 0; i < calls; ++i)
            window.txbMessage->setPlainText(replyText);
        replyShowUs = double(timer.nsecsElapsed()) / 1e3 / calls;
    }
    watchdog.stop();
    // Let the window finish whatever the last exchange left behind.
    QCoreApplication::processEvents();
    const qsizetype objectsAfter = window.wskMessage->children().size();
    const qsizetype descriptorsAfter = openDescriptors();
    receiver.stop();

    if (exchangeFailed || linkRounds.empty()) {
        std::printf("      MEASUREMENT FAILED: an exchange did not complete within %d ms\n",
                    IoTimeoutMs + ConnectTimeoutMs);
        allMeasured = false;
    } else {
        const double linkUs = median(linkRounds);
        const double plainUs = median(plainRounds);
        std::vector<double> pairRatios;
        for (size_t i = 0; i < linkRounds.size(); ++i)
            pairRatios.push_back(plainRounds[i] > 0 ? linkRounds[i] / plainRounds[i] : 0.0);
        const double ratio = median(pairRatios);
        std::printf("      median: link %.1f us/record, plain %.1f us/record\n", linkUs, plainUs);
        std::printf("      link/plain of each round: lowest %.2f, highest %.2f; the figure is their median\n",
                    *std::min_element(pairRatios.begin(), pairRatios.end()),
                    *std::max_element(pairRatios.begin(), pairRatios.end()));
        std::printf("      ratio link/plain = %.2f   (target <= %.1f: %s)\n", ratio, RatioTarget,
                    ratio <= RatioTarget ? "met" : "MISSED");
        if (linkRecordsTimed > 0)
            std::printf("      link split: %.1f us inside SendTCPPacket (connect + hand over), "
                        "%.1f us waiting for and handling the reply\n",
                        phases.sendSeconds * 1e6 / linkRecordsTimed, phases.replySeconds * 1e6 / linkRecordsTimed);
        if (linkRecordsTimed > 0 && plainRecordsTimed > 0)
            std::printf("      sending thread CPU per record: link %.1f us, plain %.1f us\n",
                        linkCpu * 1e6 / linkRecordsTimed, plainCpu * 1e6 / plainRecordsTimed);
        if (bare.done > 0 && !bare.failed) {
            const double display = 3 * shortInsertUs + replyShowUs;
            std::printf("      breakdown: bare QTcpSocket exchange on the same event loop %.1f us/record (%.2fx plain);\n"
                        "                 window display work per record ~%.1f us "
                        "(3 InsertLog x %.1f us re-rendering the whole log + reply shown %.1f us);\n"
                        "                 link minus display ~%.1f us = %.2fx plain\n",
                        bare.microsPerRecord(), bare.microsPerRecord() / plainUs, display, shortInsertUs,
                        replyShowUs, linkUs - display, (linkUs - display) / plainUs);
        } else if (bare.failed) {
            std::printf("      breakdown: the bare QTcpSocket exchange failed\n");
        }
        if (budgetHit)
            std::printf("      note: a batch stopped early after %.0f s; figures are per record done\n",
                        BatchBudgetSeconds);
    }
    std::printf("      receiver served %ld connections, %ld failed; window processed %d; objects held by the socket "
                "%lld before, %lld after; open descriptors %lld before, %lld after\n",
                receiver.served(), receiver.failures(), window.Processed, static_cast<long long>(objectsBefore),
                static_cast<long long>(objectsAfter), static_cast<long long>(descriptorsBefore),
                static_cast<long long>(descriptorsAfter));
    if (receiver.failures() > 0)
        allMeasured = false;

    // 3: CPU while a connection is pending. The listener never accepts and its
    // queue is already full, so the window's SYN is dropped and the connection
    // stays pending until the window's own connect timeout.
    std::printf("\n[3] CPU while a connection is pending (connect timeout %d ms)\n", ConnectTimeoutMs);
    {
        uint16_t deadPort = 0;
        const int deadListener = listenOnLoopback(0, deadPort);
        int filler = -1;
        bool ready = deadListener >= 0;
        if (ready) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopback(deadPort);
            ready = filler >= 0 && ::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        }
        if (!ready) {
            std::printf("    MEASUREMENT FAILED: cannot set up the full listener: %s\n", std::strerror(errno));
            allMeasured = false;
        } else {
            pointWindowAt(window, deadPort);
            const qint32 processedBefore = window.Processed;
            rusage before{}, after{};
            ::getrusage(RUSAGE_SELF, &before);
            const auto start = SteadyClock::now();
            const bool handedOver = trySend(window, record);
            const double wallMs = secondsSince(start) * 1e3;
            ::getrusage(RUSAGE_SELF, &after);
            const double cpuMs = (cpuSeconds(after) - cpuSeconds(before)) * 1e3;
            const QByteArray newest = window.eventLog().slot(EventLog::Slots).toUtf8();
            const bool timedOut = handedOver && newest.contains("Event: Socket error") && window.Processed == processedBefore
                                  && window.wskMessage->State() == Socket::Closed;
            const long wakeups = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
            std::printf("    wall %.0f ms, CPU (user+system, whole process) %.2f ms = %.3f%% of one core, "
                        "%ld context switches\n",
                        wallMs, cpuMs, wallMs > 0 ? 100.0 * cpuMs / wallMs : 0.0, wakeups);
            std::printf("    ended with: %s\n", newest.constData());
            if (!timedOut || wallMs < ConnectTimeoutMs * 0.9) {
                std::printf("    MEASUREMENT FAILED: the connection did not stay pending until the timeout\n");
                allMeasured = false;
            } else {
                const double percent = 100.0 * cpuMs / wallMs;
                std::printf("    target < %.0f%% of one core: %s\n", CpuTargetPercent,
                            percent < CpuTargetPercent ? "met" : "MISSED");
            }
        }
        if (filler >= 0)
            ::close(filler);
        if (deadListener >= 0)
            ::close(deadListener);
        // Nothing may send there again.
        window.txbPort->clear();
    }

    // 4: one event log insert with a full log of long lines.
    std::printf("\n[4] InsertLog with all %d slots holding %d-character lines\n", EventLog::Slots, LogLineLength);
    {
        const QByteArray line(LogLineLength, 'x');
        for (int i = 0; i < EventLog::Slots; ++i)
            window.InsertLog(line);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < logCalls; ++i)
            window.InsertLog(line);
        const double micros = double(timer.nsecsElapsed()) / 1e3 / logCalls;
        QCoreApplication::processEvents();
        std::printf("    %d calls: %.1f us per call\n", logCalls, micros);
    }

    std::printf("\ntotal run %.1f s; %s\n", secondsSince(runStart),
                allMeasured ? "all measurements made" : "SOME MEASUREMENTS COULD NOT BE MADE");
    return allMeasured ? 0 : 1;
}
