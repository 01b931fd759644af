// Times AFC against the simulated device: measuring and deleting a container of 20,000 files in
// 2,000 folders, against a floor of the same number of 40-byte request/reply round trips over a
// socket pair with a trivial echo peer; and reading a 10 MB icon against copying it through a
// socket pair.
#include "AfcConnection.h"
#include "BenchMachine.h"
#include "FrameworkLoader.h"
#include "IOSClearAppCacheThread.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"
#include "StepMonitor.h"
#include "StepRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<void*> arrived;
public slots:
    void iosDeviceConnected(void* device) { arrived << device; }
    void iosDeviceDisconnected(void*) {}
};

bool readAll(int fd, char* buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd, buffer + done, n - done);
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

// `count` round trips of 40 bytes each way.
double echoFloor(int count)
{
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
    std::thread peer([fd = ends[1]] {
        char b[40];
        while (readAll(fd, b, 40) && ::write(fd, b, 40) == 40) {
        }
    });
    char b[40] = {};
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i) {
        mobiledevice_send_bytes(ends[0], b, 40, 60000);
        mobiledevice_recv_bytes(ends[0], b, 40, 60000);
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    ::close(ends[0]);
    peer.join();
    ::close(ends[1]);
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double copyFloor(qint64 bytes)
{
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
    QElapsedTimer t;
    t.start();
    std::thread writer([fd = ends[1], bytes] {
        QByteArray chunk(65536, 'x');
        for (qint64 sent = 0; sent < bytes; sent += chunk.size())
            ::write(fd, chunk.constData(), size_t(chunk.size()));
        ::close(fd);
    });
    QByteArray buffer(262144, '\0');
    qint64 got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(ends[0], buffer.data(), size_t(buffer.size()));
        if (n <= 0)
            break;
        got += n;
    }
    writer.join();
    ::close(ends[0]);
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    printMachine();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir root;
    qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_BENCH_FRAMEWORKS "/sim");
    qputenv("SPACEWELL_SIM_ROOT", root.path().toUtf8());

    // Built aside and moved in whole.
    QTemporaryDir staging;
    SimDeviceFolder phone(staging.path(), QStringLiteral("bench"));
    const QDir container = phone.addApp(QStringLiteral("com.example.big"), QStringLiteral("Big"));
    for (int d = 0; d < 2000; ++d) {
        const QString folder = container.filePath(QStringLiteral("Library/Caches/d%1").arg(d));
        QDir().mkpath(folder);
        for (int f = 0; f < 10; ++f)
            SimDeviceFolder::writeFile(folder + QStringLiteral("/f%1").arg(f), QByteArray(100, 'c'));
    }
    SimDeviceFolder::writeFile(container.filePath(QStringLiteral("iTunesArtwork")),
                               QByteArray(10 << 20, 'i'));
    QDir().rename(phone.path(), root.filePath(QStringLiteral("bench")));

    QString error;
    if (!load_apple_framework(error))
        return 1;
    Receiver receiver;
    MobileDeviceNotificationContext context;
    context.receiver = &receiver;
    mobiledevice_subscribe(&context);
    if (!QTest::qWaitFor([&] { return !receiver.arrived.isEmpty(); }, 5000))
        return 1;
    IOSDevice device = mobiledevice_read_device(receiver.arrived.first());
    const QList<AppInfo> apps{{QStringLiteral("com.example.big"), QStringLiteral("Big")}};

    // Requests per pass: a listing per folder (the two top folders and 2,000 below), a file
    // info per entry, and in the clean a removal per entry.
    const int entries = 20000 + 2000;
    const int scanRequests = 2003 + entries;
    const int cleanRequests = scanRequests + entries;
    auto pass = [&](bool scanOnly) {
        StepMonitor monitor;
        IOSClearAppCacheThread worker(device, apps, &monitor, nullptr);
        worker.scanOnly = scanOnly;
        QElapsedTimer t;
        t.start();
        LocalStepRunner().run(worker, monitor);
        return double(t.nsecsElapsed()) / 1e9;
    };
    const double scan = pass(true);
    const double scanFloor = echoFloor(scanRequests);
    const double clean = pass(false);
    const double cleanFloor = echoFloor(cleanRequests);
    std::printf("%-22s %9s %10s %12s %8s %7s\n", "pass", "requests", "seconds", "us/request", "x floor",
                "target");
    std::printf("%-22s %9d %10.3f %12.1f %8.2f %7s\n", "scan 20,000 files", scanRequests, scan,
                scan / scanRequests * 1e6, scan / scanFloor, "<= 2.0");
    std::printf("%-22s %9d %10.3f %12.1f %8.2f %7s\n", "delete 20,000 files", cleanRequests, clean,
                clean / cleanRequests * 1e6, clean / cleanFloor, "<= 2.0");
    std::printf("%-22s %9d %10.3f %12.1f\n", "floor (echo, scan)", scanRequests, scanFloor,
                scanFloor / scanRequests * 1e6);
    std::printf("floor: the same number of request/reply round trips over a local socket, one at a "
                "time\n\n");

    // A read of a few milliseconds: the median of several, each file opened anew, against the
    // median of as many copies.
    AfcConnection afc(device.device);
    afc.open(QStringLiteral("com.example.big"));
    QByteArray buffer(262144, '\0');
    std::vector<double> reads;
    std::vector<double> copies;
    qint64 total = 0;
    for (int run = 0; run < 7; ++run) {
        AfcFile icon;
        afc.openForRead(QStringLiteral("/iTunesArtwork"), icon);
        QElapsedTimer t;
        t.start();
        total = 0;
        for (qint64 n; (n = icon.read(buffer.data(), buffer.size())) > 0;)
            total += n;
        reads.push_back(double(t.nsecsElapsed()) / 1e9);
        copies.push_back(copyFloor(total));
    }
    const double read = median(reads);
    const double copy = median(copies);
    std::printf("icon of %.1f MB (median of %zu): %.3f s (%.0f MB/s), socket pair copy %.3f s, ratio %.2f "
                "(target <= 1.5)\n",
                double(total) / 1048576, reads.size(), read, double(total) / 1048576 / read, copy,
                read / copy);
    return 0;
}

#include "AfcBench.moc"
