#include "AfcConnection.h"
#include "AfcPackets.h"

#include "ErrorText.h"

#include <QTest>
#include <QtEndian>

#include <sys/socket.h>
#include <unistd.h>

// The packet layer against a peer played by the test over a socket pair.
class TestAfcPackets : public QObject
{
    Q_OBJECT

    int m_ours = -1;
    int m_peer = -1;

    static QByteArray packet(quint64 op, const QByteArray& payload, quint64 announced = 0)
    {
        QByteArray b("CFA6LPAA");
        QByteArray n(32, '\0');
        qToLittleEndian<quint64>(announced ? announced : 40 + quint64(payload.size()), n.data());
        qToLittleEndian<quint64>(40, n.data() + 8);
        qToLittleEndian<quint64>(1, n.data() + 16);
        qToLittleEndian<quint64>(op, n.data() + 24);
        return b + n + payload;
    }
    static QByteArray u64(quint64 v)
    {
        QByteArray b(8, '\0');
        qToLittleEndian(v, b.data());
        return b;
    }
    void peerSends(const QByteArray& bytes)
    {
        QCOMPARE(::write(m_peer, bytes.constData(), bytes.size()), bytes.size());
    }
    QByteArray peerReads(int n)
    {
        QByteArray b(n, '\0');
        int got = 0;
        while (got < n) {
            const ssize_t r = ::read(m_peer, b.data() + got, size_t(n - got));
            if (r <= 0)
                break;
            got += int(r);
        }
        return b.left(got);
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

    void requestBytesAreExact()
    {
        peerSends(packet(2, QByteArray("a\0b\0", 4)));
        afc_read_directory(m_ours, QStringLiteral("/Library"));
        const QByteArray sent = peerReads(40 + 9);
        QCOMPARE(sent.left(8), QByteArray("CFA6LPAA"));
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 8), 49u);
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 16), 49u);
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 24), quint64(qint64(m_ours)));
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 32), 3u);
        QCOMPARE(sent.mid(40), QByteArray("/Library\0", 9));
        QCOMPARE(afc_make_header(0, 3, 0).packetNumber, 0xFFFFFFFFull);
        QCOMPARE(afc_make_header(-2, 3, 0).packetNumber, 0xFFFFFFFFFFFFFFFEull);
    }

    void replyParsers()
    {
        QCOMPARE(afc_split_names(QByteArray(".\0..\0Caches\0tail", 16)),
                 (QStringList{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("Caches")}));
        const auto info = afc_parse_file_info(QByteArray("st_size\0"
                                                         "42\0\0st_ifmt\0S_IFREG\0dangling\0",
                                                         36));
        QCOMPARE(info.value(QStringLiteral("st_size")), QStringLiteral("42"));
        QCOMPARE(info.value(QStringLiteral("st_ifmt")), QStringLiteral("S_IFREG"));
        QVERIFY(!info.contains(QStringLiteral("dangling")));
    }

    void statusAndUnknownReplies()
    {
        peerSends(packet(1, u64(8)));
        QCOMPARE(errorOf([this] { afc_remove_path(m_ours, QStringLiteral("/x")); }),
                 QStringLiteral("read AFC failed, received AFC_OP_STATUS, param1=8."));
        peerSends(packet(1, u64(33)));
        AfcHeader h;
        quint32 status = 0;
        afc_receive_packet(m_ours, h, &status);
        QCOMPARE(status, 33u);
        peerSends(packet(77, QByteArray("\x05", 1)));
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QStringLiteral("read AFC failed, Unknown operation code received 77, param1=5."));
        peerSends(packet(1, QByteArray()));
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QString()); // missing status counts as 0
    }

    void shortAndOversizedReplies()
    {
        AfcHeader h;
        peerSends(QByteArray("CFA6LPAA1234", 12));
        ::shutdown(m_peer, SHUT_WR);
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QStringLiteral("read AFC header failed."));
    }

    void announcedPayloadBeyondTheCap()
    {
        AfcHeader h;
        peerSends(packet(2, QByteArray(16, 'x'), 0xFFFFFFF0ull));
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QStringLiteral("read AFC file block data failed."));
        // A length below the header's own wraps around; it is refused the same way.
        peerSends(packet(2, QByteArray(), 8));
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QStringLiteral("read AFC file block data failed."));
    }

    void payloadCutShort()
    {
        AfcHeader h;
        peerSends(packet(2, QByteArray(10, 'x'), 40 + 100));
        ::shutdown(m_peer, SHUT_WR);
        QCOMPARE(errorOf([this, &h] { afc_receive_packet(m_ours, h); }),
                 QStringLiteral("read AFC file block data failed."));
    }

    void readsStopAtTheEnd()
    {
        peerSends(packet(2, QByteArray(10, 'a')) + packet(2, QByteArray()));
        QByteArray buffer(100, '\0');
        QCOMPARE(afc_file_read(m_ours, 7, buffer.data(), 100), 10);
        QCOMPARE(afc_file_read(m_ours, 7, buffer.data(), 0), 0);
        // Two requests were made: 10 bytes, then an empty reply.
        const QByteArray sent = peerReads(2 * 56);
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 40), 7u);
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 48), 100u);
        QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + 56 + 48), 90u);
    }

    // A phone may answer a read with a status instead of data: no byte of it is file content.
    void statusRepliesToReads()
    {
        peerSends(packet(2, QByteArray(10, 'a')) + packet(1, u64(0)));
        QByteArray buffer(100, 'x');
        QCOMPARE(afc_file_read(m_ours, 7, buffer.data(), 100), 10);
        QCOMPARE(buffer.mid(10, 8), QByteArray(8, 'x'));

        peerSends(packet(1, u64(7))); // an error such as "permission denied"
        QVERIFY(errorOf([&] {
                    afc_file_read(m_ours, 7, buffer.data(), 100);
                }).contains(QStringLiteral("AFC_OP_STATUS, param1=7")));
    }

    // Several requests in flight: the replies come back in the order the requests went, a status
    // among them stays that request's own.
    void requestsInFlightKeepTheirOrder()
    {
        peerSends(packet(2, "first") + packet(1, u64(7)) + packet(1, u64(0)));
        const QList<AfcReply> replies =
            afc_request_many(m_ours, AfcOperation::RemovePath,
                             {QByteArray("/a\0", 3), QByteArray("/b\0", 3), QByteArray("/c\0", 3)}, 2);
        QCOMPARE(replies.size(), 3);
        QCOMPARE(replies.at(0).payload, QByteArray("first"));
        QCOMPARE(replies.at(1).operation, quint64(AfcOperation::Status));
        QCOMPARE(replies.at(1).status, 7u);
        QCOMPARE(replies.at(2).status, 0u);
        const QByteArray sent = peerReads(3 * 43);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(qFromLittleEndian<quint64>(sent.constData() + i * 43 + 32),
                     quint64(AfcOperation::RemovePath));
            QCOMPARE(sent.at(i * 43 + 41), "abc"[i]);
        }
    }

    // Reads in flight go on from the file position in turn: a short reply is followed by the next
    // one's data, and what it left out is asked for again.
    void readsInFlightFillTheBufferInOrder()
    {
        peerSends(packet(2, QByteArray(65536, 'a')) + packet(2, QByteArray(30000, 'b')) +
                  packet(2, QByteArray(18928, 'c')) + packet(2, QByteArray(35536, 'd')));
        QByteArray buffer(150000, '\0');
        QCOMPARE(afc_file_read(m_ours, 7, buffer.data(), buffer.size()), 150000);
        QCOMPARE(buffer, QByteArray(65536, 'a') + QByteArray(30000, 'b') + QByteArray(18928, 'c') +
                             QByteArray(35536, 'd'));
        const QByteArray sent = peerReads(4 * 56);
        QList<quint64> asked;
        for (int i = 0; i < 4; ++i)
            asked << qFromLittleEndian<quint64>(sent.constData() + i * 56 + 48);
        QCOMPARE(asked, (QList<quint64>{65536, 65536, 18928, 35536}));
    }

    void listingsStayInsideTheFolder()
    {
        // A device that names entries leading elsewhere: only plain names are followed.
        const QByteArray info("st_size\0"
                              "5\0st_ifmt\0S_IFREG\0",
                              26);
        peerSends(packet(2, QByteArray(".\0..\0../../Documents\0Caches/../../x\0\0good\0", 42)) +
                  packet(2, info));
        AfcConnection afc(nullptr);
        afc.adopt(::dup(m_ours)); // the connection closes its own copy
        const QList<AfcFileInfo> entries = afc.listDirectory(QStringLiteral("/Library/Caches"));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.at(0).path, QStringLiteral("/Library/Caches/good"));
        // Exactly one file info was asked for, for the plain name.
        const QByteArray sent = peerReads(40 + 16 + 40 + 21);
        QCOMPARE(sent.mid(96), QByteArray("/Library/Caches/good\0", 21));
    }

    void fileOpenHandles()
    {
        peerSends(packet(14, u64(0x1122)) + packet(14, QByteArray()));
        QCOMPARE(afc_file_open(m_ours, QStringLiteral("/iTunesArtwork"), 1), 0x1122u);
        QCOMPARE(afc_file_open(m_ours, QStringLiteral("/iTunesArtwork"), 1), 0u);
    }
};

QTEST_GUILESS_MAIN(TestAfcPackets)
#include "TestAfcPackets.moc"
