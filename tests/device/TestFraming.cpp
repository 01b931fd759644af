#include "MobileDeviceManager.h"

#include "ErrorText.h"

#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

// Property-list messages over a socket pair: the program's end and a peer that the test plays.
class TestFraming : public QObject
{
    Q_OBJECT

    int m_ours = -1;
    int m_peer = -1;

    static CFType message()
    {
        CFType m = CFType::newDictionary();
        m.setValue(CFType::fromString(QStringLiteral("Command")),
                   CFType::fromString(QStringLiteral("Browse")));
        return m;
    }
    void peerWrite(const QByteArray& bytes)
    {
        QCOMPARE(::write(m_peer, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    static QByteArray lengthOf(quint32 n)
    {
        const char b[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        return QByteArray(b, 4);
    }

private slots:
    void init()
    {
        int ends[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        m_ours = ends[0];
        m_peer = ends[1];
    }
    void cleanup()
    {
        ::close(m_ours);
        ::close(m_peer);
    }

    void roundTrips_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::newRow("xml") << false;
        QTest::newRow("binary") << true;
    }

    void roundTrips()
    {
        QFETCH(bool, binary);
        mobiledevice_sendmsg(m_ours, message(), binary, 1000);
        // What went out: a big-endian length and exactly that many bytes.
        char header[4];
        QCOMPARE(::read(m_peer, header, 4), 4);
        const quint32 n = quint32(uchar(header[0])) << 24 | quint32(uchar(header[1])) << 16 |
                          quint32(uchar(header[2])) << 8 | uchar(header[3]);
        QByteArray body(n, '\0');
        QCOMPARE(::read(m_peer, body.data(), n), qsizetype(n));
        QCOMPARE(body.startsWith("bplist00"), binary);
        // And back through the receiver.
        peerWrite(lengthOf(n) + body);
        const CFType back = mobiledevice_recmsg(m_ours, CFType(), 1000);
        QCOMPARE(back.value(QStringLiteral("Command")).toString(), QStringLiteral("Browse"));
    }

    void emptyMessagesAreNeverSent()
    {
        mobiledevice_sendmsg(m_ours, CFType(), false, 100);
        QCOMPARE(mobiledevice_wait_socket(m_peer, 50, SocketDirection::Read), 0);
    }

    void zeroLengthGivesNull()
    {
        peerWrite(lengthOf(0));
        QVERIFY(mobiledevice_recmsg(m_ours, CFType(), 100).isNull());
    }

    void shortReplies()
    {
        peerWrite(QByteArray("\x00\x00", 2));
        ::shutdown(m_peer, SHUT_WR);
        QCOMPARE(errorOf([this] { mobiledevice_recmsg(m_ours, CFType(), 100); }),
                 QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: 2."));
    }

    void replyStoppingHalfWayNamesWhatArrived()
    {
        peerWrite(lengthOf(100) + QByteArray(37, 'x'));
        ::shutdown(m_peer, SHUT_WR);
        const QString error = errorOf([this] { mobiledevice_recmsg(m_ours, message(), 100); });
        QVERIFY(
            error.startsWith(QStringLiteral("mobiledevice_recmsg(msg) error, received length: 37.\n<?xml")));
        QVERIFY(error.contains(QStringLiteral("<string>Browse</string>")));
    }

    void slowReplyTimesOut()
    {
        peerWrite(lengthOf(100) + QByteArray(10, 'x')); // the rest never comes
        QCOMPARE(errorOf([this] { mobiledevice_recmsg(m_ours, CFType(), 200); }),
                 QStringLiteral("mobiledevice_recmsg(msg) error, received length: 10."));
    }

    void hugeAnnouncementsAllocateNothing()
    {
        peerWrite(lengthOf(0xFFFFFFFFu) + QByteArray(64, 'x'));
        QCOMPARE(errorOf([this] { mobiledevice_recmsg(m_ours, CFType(), 100); }),
                 QStringLiteral("mobiledevice_recmsg(msg) error, received length: 0."));
    }

    void sendToAClosedPeerFails()
    {
        ::close(m_peer);
        m_peer = ::dup(m_ours); // keep cleanup simple
        int pair[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ::close(pair[1]);
        const QString error = errorOf([&pair] { mobiledevice_sendmsg(pair[0], message(), false, 100); });
        ::close(pair[0]);
        QVERIFY(error.startsWith(QStringLiteral("mobiledevice_sendmsg(msg-length) error.\n<?xml")));
    }

    void largeMessagesArriveWhole()
    {
        CFType big = CFType::newDictionary();
        big.setValue(CFType::fromString(QStringLiteral("Blob")), CFType::fromBytes(QByteArray(3 << 20, 'z')));
        std::thread reader([this] {
            const CFType back = mobiledevice_recmsg(m_peer, CFType(), 5000);
            QCOMPARE(back.value(QStringLiteral("Blob")).toByteArray().size(), 3 << 20);
        });
        mobiledevice_sendmsg(m_ours, big, true, 5000);
        reader.join();
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "TestFraming.moc"
