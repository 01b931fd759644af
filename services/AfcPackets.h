#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// AFC, the device's file protocol: a 40-byte little-endian header, then fixed data.
struct AfcHeader
{
    quint64 magic = 0;
    quint64 entireLength = 0;
    quint64 thisLength = 0;
    quint64 packetNumber = 0;
    quint64 operation = 0;
};

namespace AfcOperation {
enum : quint64
{
    Status = 1,
    Data = 2,
    ReadDirectory = 3,
    RemovePath = 8,
    GetFileInfo = 10,
    FileOpen = 13,
    FileOpenResult = 14,
    FileRead = 15,
    TellResult = 19,
    FileClose = 20,
};
}

inline constexpr int afcHeaderSize = 40;
// The largest reply payload accepted; a header may announce anything.
inline constexpr quint32 afcMaxPayload = 16u << 20;

// A request header for `socket` carrying `dataLength` bytes of fixed data.
AfcHeader afc_make_header(int socket, quint64 operation, quint64 dataLength);
QByteArray afc_encode_header(const AfcHeader& header);

void afc_send_packet(int socket, const AfcHeader& header, const char* data, int dataLength);
// The reply payload. With a status place, a status reply stores its status there instead of
// raising on a non-zero status.
QByteArray afc_receive_packet(int socket, AfcHeader& header, quint32* status = nullptr);

// One reply: its payload, and for a status reply its status.
struct AfcReply
{
    QByteArray payload;
    quint64 operation = 0;
    quint32 status = 0;
};
// Sends one request of `operation` per data, keeping up to `window` of them unanswered (the device
// answers a connection's requests in the order they come), and returns the replies in that order.
// Raises on a transport failure; a status reply is returned, not raised.
QList<AfcReply> afc_request_many(int socket, quint64 operation, const QList<QByteArray>& datas,
                                 int window = 16);
// The data of a request that names a path.
QByteArray afc_path_data(const QString& path);

QStringList afc_read_directory(int socket, const QString& path);
QMap<QString, QString> afc_get_file_info(int socket, const QString& path);
quint64 afc_file_open(int socket, const QString& path, quint64 mode);
qint64 afc_file_read(int socket, quint64 handle, char* buffer, qint64 length);
void afc_file_close(int socket, quint64 handle);
void afc_remove_path(int socket, const QString& path);

// Reply parsers: zero-terminated names (bytes after the last zero are ignored), and alternating
// attribute names and values.
QStringList afc_split_names(const QByteArray& payload);
QMap<QString, QString> afc_parse_file_info(const QByteArray& payload);
