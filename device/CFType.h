#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <plist/plist.h>

#include <memory>

class QTimeZone;

// One property-list value. Copies share the value; an owned value is freed with the last copy.
// Values looked up inside a container are borrowed and live only as long as their container.
class CFType
{
public:
    // Type identifiers (the libplist node types; null has its own).
    enum TypeId
    {
        NullType = -1
    };
    enum Format
    {
        XmlFormat = 100,
        BinaryFormat = 200
    };

    CFType() = default;
    CFType(plist_t ref, bool owned);
    virtual ~CFType() = default;

    static CFType fromString(const QString& text);
    static CFType fromBytes(const QByteArray& bytes);
    static CFType newDictionary();
    static CFType newArray();
    // XML or binary; a null value when the bytes do not parse.
    static CFType fromPlistBytes(const QByteArray& bytes);

    plist_t ref() const;
    int typeId() const;
    bool isNull() const { return ref() == nullptr; }
    bool isNumber() const;
    bool isBoolean() const;
    bool isString() const;
    bool isData() const;
    bool isDate() const;
    bool isDictionary() const;
    bool isArray() const;

    int toInt(int fallback = 0) const;
    qint64 toLongLong(qint64 fallback = 0) const;
    double toDouble(double fallback = 0) const;
    bool toBool(bool fallback = false) const;
    QString toString() const;
    QByteArray toByteArray() const;
    // The date's fields in the time zone (UTC when none) as a local date-time.
    QDateTime toDateTime(const QTimeZone* zone = nullptr) const;
    QString toDisplayText() const;

    int arrayCount() const;
    CFType arrayValue(int index) const;
    CFType value(const QString& key) const;
    // Dictionaries only: stores a copy of value under the key's text.
    void setValue(const CFType& key, const CFType& value);
    // Arrays only: appends a copy of value.
    void appendValue(const CFType& value);

    // Empty for a null value or when encoding fails.
    QByteArray toPlistBytes(Format format) const;

private:
    struct Holder
    {
        plist_t ref = nullptr;
        bool owned = false;
        ~Holder();
    };
    std::shared_ptr<Holder> m_holder;
    QMap<std::shared_ptr<Holder>, std::shared_ptr<Holder>> m_kept;
};
