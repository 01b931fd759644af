#include "CFType.h"

#include <QTimeZone>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

CFType::Holder::~Holder()
{
    if (owned && ref)
        plist_free(ref);
}

CFType::CFType(plist_t ref, bool owned) : m_holder(std::make_shared<Holder>())
{
    m_holder->ref = ref;
    m_holder->owned = owned;
}

CFType CFType::fromString(const QString& text)
{
    return CFType(plist_new_string(text.toUtf8().constData()), true);
}

CFType CFType::fromBytes(const QByteArray& bytes)
{
    return CFType(plist_new_data(bytes.constData(), uint64_t(bytes.size())), true);
}

CFType CFType::newDictionary()
{
    return CFType(plist_new_dict(), true);
}

CFType CFType::newArray()
{
    return CFType(plist_new_array(), true);
}

CFType CFType::fromPlistBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return CFType();
    plist_t value = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &value);
    return value ? CFType(value, true) : CFType();
}

plist_t CFType::ref() const
{
    return m_holder ? m_holder->ref : nullptr;
}

int CFType::typeId() const
{
    return ref() ? int(plist_get_node_type(ref())) : NullType;
}

bool CFType::isNumber() const
{
    return typeId() == PLIST_UINT || typeId() == PLIST_REAL;
}

bool CFType::isBoolean() const
{
    return typeId() == PLIST_BOOLEAN;
}

bool CFType::isString() const
{
    return typeId() == PLIST_STRING;
}

bool CFType::isData() const
{
    return typeId() == PLIST_DATA;
}

bool CFType::isDate() const
{
    return typeId() == PLIST_DATE;
}

bool CFType::isDictionary() const
{
    return typeId() == PLIST_DICT;
}

bool CFType::isArray() const
{
    return typeId() == PLIST_ARRAY;
}

namespace {
// An integer above the signed 64-bit range. libplist keeps whether it was written unsigned but
// shows it only in the value's XML text.
bool unsignedAboveSignedRange(plist_t node, quint64* out)
{
    if (plist_get_node_type(node) != PLIST_UINT)
        return false;
    uint64_t v = 0;
    plist_get_uint_val(node, &v);
    if (v <= uint64_t(std::numeric_limits<qint64>::max()))
        return false;
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const bool negative = xml && std::strstr(xml, "<integer>-");
    std::free(xml);
    *out = v;
    return !negative;
}

// Integers are kept as 64-bit values that are signed in practice; an unsigned one above that
// range has no signed value.
bool integerOf(plist_t node, qint64* out)
{
    if (plist_get_node_type(node) != PLIST_UINT)
        return false;
    quint64 big = 0;
    if (unsignedAboveSignedRange(node, &big))
        return false;
    uint64_t v = 0;
    plist_get_uint_val(node, &v);
    *out = qint64(v);
    return true;
}

bool realOf(plist_t node, double* out)
{
    if (plist_get_node_type(node) != PLIST_REAL)
        return false;
    plist_get_real_val(node, out);
    return true;
}

// A conversion that would lose information fails, as it does for CoreFoundation numbers.
template <typename T> bool exactly(plist_t node, T* out)
{
    qint64 i = 0;
    double d = 0;
    if (integerOf(node, &i)) {
        if (i < qint64(std::numeric_limits<T>::min()) || i > qint64(std::numeric_limits<T>::max()))
            return false;
        *out = T(i);
        return true;
    }
    if (realOf(node, &d)) {
        if (!std::isfinite(d) || std::trunc(d) != d || d < double(std::numeric_limits<T>::min()) ||
            d >= -double(std::numeric_limits<T>::min()))
            return false;
        *out = T(d);
        return true;
    }
    return false;
}
} // namespace

int CFType::toInt(int fallback) const
{
    int v = 0;
    return ref() && exactly(ref(), &v) ? v : fallback;
}

qint64 CFType::toLongLong(qint64 fallback) const
{
    qint64 v = 0;
    return ref() && exactly(ref(), &v) ? v : fallback;
}

double CFType::toDouble(double fallback) const
{
    if (!ref())
        return fallback;
    qint64 i = 0;
    double d = 0;
    if (realOf(ref(), &d))
        return d;
    if (integerOf(ref(), &i))
        return double(i);
    quint64 big = 0;
    if (unsignedAboveSignedRange(ref(), &big))
        return double(big);
    return fallback;
}

bool CFType::toBool(bool fallback) const
{
    if (!isBoolean())
        return fallback;
    uint8_t v = 0;
    plist_get_bool_val(ref(), &v);
    return v != 0;
}

QString CFType::toString() const
{
    if (!isString())
        return QString();
    // By pointer and length: a string holding a zero byte would trip libplist's own check.
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(ref(), &length);
    return text ? QString::fromUtf8(text, qsizetype(length)) : QString();
}

QByteArray CFType::toByteArray() const
{
    if (!isData())
        return QByteArray();
    char* bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(ref(), &bytes, &length);
    QByteArray result(bytes ? bytes : "", qsizetype(length));
    std::free(bytes);
    return result;
}

QDateTime CFType::toDateTime(const QTimeZone* zone) const
{
    if (!isDate())
        return QDateTime();
    int32_t seconds = 0;
    int32_t micros = 0;
    plist_get_date_val(ref(), &seconds, &micros);
    // Dates count seconds from 2001-01-01 00:00:00 GMT.
    const QDateTime utc = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(seconds);
    const QDateTime inZone = zone ? utc.toTimeZone(*zone) : utc;
    const QTime t = inZone.time();
    return QDateTime(inZone.date(), QTime(t.hour(), t.minute(), t.second()), Qt::LocalTime);
}

QString CFType::toDisplayText() const
{
    switch (typeId()) {
    case PLIST_STRING:
        return toString();
    case PLIST_UINT: {
        quint64 big = 0;
        if (unsignedAboveSignedRange(ref(), &big))
            return QString::number(big);
        return QString::number(toLongLong(0));
    }
    case PLIST_REAL:
        return QString::number(toDouble(0), 'g', 6);
    case PLIST_BOOLEAN:
        return toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case PLIST_DATE:
        return toDateTime().toString(Qt::TextDate);
    case PLIST_DATA:
        return QString::fromUtf8(toByteArray());
    default:
        return QString();
    }
}

int CFType::arrayCount() const
{
    return isArray() ? int(plist_array_get_size(ref())) : 0;
}

CFType CFType::arrayValue(int index) const
{
    if (!isArray() || index < 0 || index >= arrayCount())
        return CFType();
    return CFType(plist_array_get_item(ref(), uint32_t(index)), false);
}

CFType CFType::value(const QString& key) const
{
    if (!isDictionary())
        return CFType();
    plist_t item = plist_dict_get_item(ref(), key.toUtf8().constData());
    return item ? CFType(item, false) : CFType();
}

void CFType::setValue(const CFType& key, const CFType& value)
{
    if (!isDictionary() || !key.isString() || value.isNull())
        return;
    // The dictionary takes its own copy, so the caller's value stays its own.
    plist_dict_set_item(ref(), key.toString().toUtf8().constData(), plist_copy(value.ref()));
    m_kept.insert(key.m_holder, value.m_holder);
}

void CFType::appendValue(const CFType& value)
{
    if (!isArray() || value.isNull())
        return;
    plist_array_append_item(ref(), plist_copy(value.ref()));
}

QByteArray CFType::toPlistBytes(Format format) const
{
    if (!ref())
        return QByteArray();
    char* data = nullptr;
    uint32_t length = 0;
    if (format == BinaryFormat)
        plist_to_bin(ref(), &data, &length);
    else
        plist_to_xml(ref(), &data, &length);
    QByteArray result(data ? data : "", data ? qsizetype(length) : 0);
    std::free(data);
    return result;
}
