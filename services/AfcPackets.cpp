#include "AfcPackets.h"

#include "MobileDeviceManager.h"

#include <QtEndian>

#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString& text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

QByteArray pathData(const QString& path)
{
    QByteArray data = path.toUtf8();
    data.append('\0');
    return data;
}

QByteArray u64(quint64 v)
{
    QByteArray b(8, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

quint64 firstU64(const QByteArray& payload)
{
    // Bytes missing from a short payload count as 0.
    char b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(b, payload.constData(), size_t(qMin<qsizetype>(8, payload.size())));
    return qFromLittleEndian<quint64>(b);
}

QByteArray request(int socket, quint64 operation, const QByteArray& data)
{
    afc_send_packet(socket, afc_make_header(socket, operation, quint64(data.size())), data.constData(),
                    int(data.size()));
    AfcHeader reply;
    return afc_receive_packet(socket, reply);
}

} // namespace

AfcHeader afc_make_header(int socket, quint64 operation, quint64 dataLength)
{
    AfcHeader h;
    std::memcpy(&h.magic, "CFA6LPAA", 8);
    h.entireLength = afcHeaderSize + dataLength;
    h.thisLength = afcHeaderSize + dataLength;
    h.packetNumber = socket == 0 ? 0x00000000FFFFFFFFull : quint64(qint64(qint32(socket)));
    h.operation = operation;
    return h;
}

QByteArray afc_encode_header(const AfcHeader& header)
{
    QByteArray b(afcHeaderSize, '\0');
    std::memcpy(b.data(), &header.magic, 8); // the magic is bytes, not a number
    qToLittleEndian(header.entireLength, b.data() + 8);
    qToLittleEndian(header.thisLength, b.data() + 16);
    qToLittleEndian(header.packetNumber, b.data() + 24);
    qToLittleEndian(header.operation, b.data() + 32);
    return b;
}

void afc_send_packet(int socket, const AfcHeader& header, const char* data, int dataLength)
{
    // Header and data go in one write: one trip through the device connection, not two.
    QByteArray packet = afc_encode_header(header);
    packet.append(data, dataLength);
    const int total = int(packet.size());
    int sent = 0;
    while (sent < total) {
        const int n = mobiledevice_send_bytes(socket, packet.constData() + sent, total - sent, 60000);
        if (n <= 0)
            raise(sent < afcHeaderSize
                      ? QStringLiteral("send AFC header (%1) error.").arg(header.operation)
                      : QStringLiteral("send AFC content (%1) error.").arg(header.operation));
        sent += n;
    }
}

QList<AfcReply> afc_request_many(int socket, quint64 operation, const QList<QByteArray>& datas, int window)
{
    QList<AfcReply> replies;
    replies.reserve(datas.size());
    qsizetype sent = 0;
    while (replies.size() < datas.size()) {
        while (sent < datas.size() && sent - replies.size() < window) {
            const QByteArray& data = datas.at(sent++);
            afc_send_packet(socket, afc_make_header(socket, operation, quint64(data.size())),
                            data.constData(), int(data.size()));
        }
        AfcReply reply;
        AfcHeader header;
        reply.payload = afc_receive_packet(socket, header, &reply.status);
        reply.operation = header.operation;
        replies << reply;
    }
    return replies;
}

namespace {
// Reads a reply's header; gives the length of the payload that follows it.
quint32 receiveHeader(int socket, AfcHeader& header)
{
    char h[afcHeaderSize];
    if (mobiledevice_recv_bytes(socket, h, afcHeaderSize, 60000) < afcHeaderSize)
        raise(QStringLiteral("read AFC header failed."));
    std::memcpy(&header.magic, h, 8);
    header.entireLength = qFromLittleEndian<quint64>(h + 8);
    header.thisLength = qFromLittleEndian<quint64>(h + 16);
    header.packetNumber = qFromLittleEndian<quint64>(h + 24);
    header.operation = qFromLittleEndian<quint64>(h + 32);
    const quint64 n = header.entireLength < afcHeaderSize ? 0 : header.entireLength - afcHeaderSize;
    if (n > afcMaxPayload)
        raise(QStringLiteral("read AFC file block data failed."));
    return quint32(n);
}

void receiveInto(int socket, char* data, quint32 n)
{
    if (n > 0 && mobiledevice_recv_bytes(socket, data, int(n), 60000) < int(n))
        raise(QStringLiteral("read AFC file block data failed."));
}
} // namespace

QByteArray afc_receive_packet(int socket, AfcHeader& header, quint32* status)
{
    const quint32 n = receiveHeader(socket, header);
    QByteArray payload;
    if (n > 0) {
        payload.resize(qsizetype(n));
        receiveInto(socket, payload.data(), n);
    }
    switch (header.operation) {
    case AfcOperation::Data:
    case AfcOperation::FileOpenResult:
    case AfcOperation::TellResult:
        return payload;
    case AfcOperation::Status: {
        const quint64 code = firstU64(payload);
        if (status) {
            *status = quint32(code);
            return payload;
        }
        if (code != 0)
            raise(QStringLiteral("read AFC failed, received AFC_OP_STATUS, param1=%1.").arg(code));
        return payload;
    }
    default:
        raise(QStringLiteral("read AFC failed, Unknown operation code received %1, param1=%2.")
                  .arg(header.operation)
                  .arg(firstU64(payload)));
    }
}

QStringList afc_split_names(const QByteArray& payload)
{
    QStringList names;
    qsizetype start = 0;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        if (payload.at(i) == '\0') {
            names << QString::fromUtf8(payload.constData() + start, i - start);
            start = i + 1;
        }
    }
    return names;
}

QMap<QString, QString> afc_parse_file_info(const QByteArray& payload)
{
    QMap<QString, QString> info;
    QString pending;
    for (const QString& s : afc_split_names(payload)) {
        if (pending.isEmpty()) {
            pending = s;
        } else {
            info.insert(pending, s);
            pending.clear();
        }
    }
    return info;
}

QByteArray afc_path_data(const QString& path)
{
    return pathData(path);
}

QStringList afc_read_directory(int socket, const QString& path)
{
    return afc_split_names(request(socket, AfcOperation::ReadDirectory, pathData(path)));
}

QMap<QString, QString> afc_get_file_info(int socket, const QString& path)
{
    return afc_parse_file_info(request(socket, AfcOperation::GetFileInfo, pathData(path)));
}

quint64 afc_file_open(int socket, const QString& path, quint64 mode)
{
    const QByteArray payload = request(socket, AfcOperation::FileOpen, u64(mode) + pathData(path));
    return payload.isEmpty() ? 0 : firstU64(payload);
}

qint64 afc_file_read(int socket, quint64 handle, char* buffer, qint64 length)
{
    // Reads go on from the file's position in the order they are sent, so several can be in flight
    // and each reply's data lands right after the one before, straight in the caller's buffer.
    constexpr qint64 chunk = 65536;
    constexpr qsizetype window = 4;
    QList<qint64> pending; // what each read in flight asked for
    qint64 asked = 0;      // what has come, and what may still come of the reads in flight
    qint64 total = 0;
    bool ended = false;
    quint32 failure = 0;
    while (!pending.isEmpty() || (!ended && asked < length)) {
        while (!ended && asked < length && pending.size() < window) {
            const qint64 count = qMin<qint64>(length - asked, chunk);
            const QByteArray data = u64(handle) + u64(quint64(count));
            afc_send_packet(socket, afc_make_header(socket, AfcOperation::FileRead, quint64(data.size())),
                            data.constData(), int(data.size()));
            pending << count;
            asked += count;
        }
        const qint64 count = pending.takeFirst();
        AfcHeader reply;
        const quint32 n = receiveHeader(socket, reply);
        if (reply.operation == AfcOperation::Data && !ended) {
            // Never more than was asked: anything beyond it is read and dropped.
            const quint32 kept = quint32(qMin<qint64>(n, count));
            receiveInto(socket, buffer + total, kept);
            if (n > kept) {
                QByteArray rest(qsizetype(n - kept), '\0');
                receiveInto(socket, rest.data(), n - kept);
            }
            total += kept;
            asked -= count - kept; // a short reply: the rest is asked for again
            ended = kept == 0;
            continue;
        }
        // A status carries no file data: success means the end of the file.
        QByteArray payload(qsizetype(n), '\0');
        receiveInto(socket, payload.data(), n);
        if (reply.operation == AfcOperation::Status && failure == 0)
            failure = quint32(firstU64(payload));
        else if (reply.operation != AfcOperation::Status && reply.operation != AfcOperation::Data)
            raise(QStringLiteral("read AFC failed, Unknown operation code received %1, param1=%2.")
                      .arg(reply.operation)
                      .arg(firstU64(payload)));
        ended = true;
    }
    if (failure != 0)
        raise(QStringLiteral("read AFC failed, received AFC_OP_STATUS, param1=%1.").arg(failure));
    return total;
}

void afc_file_close(int socket, quint64 handle)
{
    request(socket, AfcOperation::FileClose, u64(handle));
}

void afc_remove_path(int socket, const QString& path)
{
    request(socket, AfcOperation::RemovePath, pathData(path));
}
