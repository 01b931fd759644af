#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <stdexcept>

class AfcFile;

// House arrest answered that it does not open this app's container: current iOS opens only
// developer-signed apps' containers. The device is still there; other containers may open.
class ContainerRefused : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One file or folder as AFC reports it.
struct AfcFileInfo
{
    QString path;
    qint64 size = 0;
    QDateTime modified;
    QString type; // "S_IFREG", "S_IFDIR", ...

    bool isFile() const { return type.compare(QLatin1String("S_IFREG"), Qt::CaseInsensitive) == 0; }
    bool isDir() const { return type.compare(QLatin1String("S_IFDIR"), Qt::CaseInsensitive) == 0; }
};

// An AFC connection to the device's media folder, or to one app's container through house arrest.
// Only open raises; the other operations report failure by their result.
class AfcConnection
{
public:
    explicit AfcConnection(void* device);
    ~AfcConnection();
    AfcConnection(const AfcConnection&) = delete;
    AfcConnection& operator=(const AfcConnection&) = delete;

    // An app identifier opens that app's container; an empty one opens the media folder. Throws
    // ContainerRefused when the device refuses the container, std::runtime_error otherwise.
    void open(const QString& appIdentifier);
    void close();
    // Takes over a socket that already speaks AFC (closing any socket held before).
    void adopt(int socket);
    bool isOpen() const { return m_socket >= 0; }
    // True once a request could not be sent or its reply did not arrive: the device is gone or the
    // connection broke, and the object-level results since then mean nothing.
    bool isBroken() const { return m_broken; }
    int socket() const { return m_socket; }

    bool openFile(const QString& path, quint64 mode, AfcFile& file);
    bool openForRead(const QString& path, AfcFile& file) { return openFile(path, 1, file); }
    bool removePath(const QString& path);
    // Removes them with several requests in flight; gives how many the device removed.
    int removePaths(const QStringList& paths);
    AfcFileInfo fileInfo(const QString& path);
    // Files and folders only, without "." and ".."; empty on any error.
    QList<AfcFileInfo> listDirectory(const QString& folder);

private:
    void noteFailure(const std::exception& e);

    void* m_device;
    // -1 when closed: descriptor 0 is a socket like any other when standard input is closed.
    int m_socket = -1;
    bool m_broken = false;
};

// A file opened through an AfcConnection; it borrows the connection's socket.
class AfcFile
{
public:
    AfcFile() = default;
    ~AfcFile() { close(); }
    AfcFile(const AfcFile&) = delete;
    AfcFile& operator=(const AfcFile&) = delete;

    // Bytes read, 0 at the end, -1 after an error.
    qint64 read(char* buffer, qint64 length);
    void close();
    bool isOpen() const { return m_handle != 0; }

private:
    friend class AfcConnection;
    int m_socket = -1;
    quint64 m_handle = 0;
};

// Asks house arrest on `socket` for an app's container; afterwards the socket speaks AFC.
void house_arrest_vend_container(int socket, const QString& appIdentifier);
