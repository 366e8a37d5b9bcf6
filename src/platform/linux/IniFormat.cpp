#include "platform/linux/IniFormat.h"
#include "platform/PrivateFiles.h"
#include <QDataStream>
#include <QIODevice>
#include <QScopeGuard>
#include <QSettings>
#include <QStringEncoder>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform::linux_::ini {

namespace {

bool isHexDigit(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Keys: letters, digits, "_", "-" and "." as they are, "/" as "\", anything else as %XX or %UXXXX.
void escapeKey(const QString& key, QByteArray& out) {
    static const char hex[] = "0123456789ABCDEF";
    for (const QChar qc : key) {
        const char16_t c = qc.unicode();
        if (c == u'/')
            out += '\\';
        else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
                 c == u'-' || c == u'.')
            out += char(c);
        else if (c <= 0xFF)
            out += QByteArray("%") + hex[c >> 4] + hex[c & 15];
        else
            out += QByteArray("%U") + hex[c >> 12] + hex[(c >> 8) & 15] + hex[(c >> 4) & 15] + hex[c & 15];
    }
}

// Values: C escapes for control characters, quotes and backslashes; UTF-8 for other text, \xNN for
// the bytes of a serialised value; quoted when it holds ";", "," or "=" or starts or ends with a blank.
void escapeString(const QString& text, QByteArray& out) {
    const bool serialised = text.startsWith(QLatin1String("@ByteArray(")) ||
                            text.startsWith(QLatin1String("@Variant(")) || text.startsWith(QLatin1String("@DateTime("));
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    const qsizetype start = out.size();
    bool quote = false, escapeHexDigit = false;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        quote = quote || c == u';' || c == u',' || c == u'=';
        if (escapeHexDigit && isHexDigit(c)) {
            out += "\\x" + QByteArray::number(uint(c), 16);
            continue;
        }
        escapeHexDigit = false;
        static const char plainEscapes[] = "\a\b\f\n\r\t\v\"\\";
        static const char escaped[] = "abfnrtv\"\\";
        if (c == 0) {
            out += "\\0";
            escapeHexDigit = true;
        } else if (const char* e = c < 0x80 ? std::strchr(plainEscapes, char(c)) : nullptr) {
            out += '\\';
            out += escaped[e - plainEscapes];
        } else if (c <= 0x1F || (c >= 0x7F && serialised)) {
            out += "\\x" + QByteArray::number(uint(c), 16);
            escapeHexDigit = true;
        } else if (serialised) {
            out += char(c);
        } else {
            out += toUtf8(QStringView(&qc, 1));
        }
    }
    if (quote || (start < out.size() && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

QString variantText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray:
        return QStringLiteral("@ByteArray(") + QString::fromLatin1(value.toByteArray()) + QLatin1Char(')');
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double: {
        const QString text = value.toString();
        if (text.contains(QChar::Null))
            return QStringLiteral("@String(") + text + QLatin1Char(')');
        return text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    }
    default: {
        // Anything else (a value kept as another program wrote it) in the library's binary form.
        const bool dateTime = value.typeId() == QMetaType::QDateTime;
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
        stream << value;
        return QLatin1String(dateTime ? "@DateTime(" : "@Variant(") + QString::fromLatin1(bytes) + QLatin1Char(')');
    }
    }
}

void escapeValue(const QVariant& value, QByteArray& out) {
    const bool list = value.typeId() == QMetaType::QStringList ||
                      (value.typeId() == QMetaType::QVariantList && value.toList().size() != 1);
    if (!list)
        return escapeString(variantText(value), out);
    const QVariantList items = value.toList();
    if (items.isEmpty())
        out += "@Invalid()";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += ", ";
        escapeString(variantText(items[i]), out);
    }
}

} // namespace

QByteArray write(const Values& values) {
    QMap<QString, Values> sections; // "" holds the plain keys, written as [General] and first
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        sections[slash < 0 ? QString() : it.key().left(slash)].insert(it.key().mid(slash + 1), it.value());
    }
    QByteArray out;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        QByteArray name;
        escapeKey(section.key(), name);
        if (!out.isEmpty())
            out += '\n';
        if (name.isEmpty())
            out += "[General]\n";
        else if (name.compare("general", Qt::CaseInsensitive) == 0)
            out += "[%General]\n";
        else
            out += '[' + name + "]\n";
        for (auto it = section->cbegin(); it != section->cend(); ++it) {
            escapeKey(it.key(), out);
            out += '=';
            escapeValue(it.value(), out);
            out += '\n';
        }
    }
    return out;
}

std::optional<Parsed> parse(const QByteArray& bytes, QString* error) {
    if (bytes.isEmpty())
        return Parsed{};
    const auto fail = [error](int code) -> std::optional<Parsed> {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(code));
        return std::nullopt;
    };
    const int fd = ::memfd_create("corvane-settings", MFD_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (!privatefiles::writeAll(fd, bytes))
        return fail(errno);
    // The library keeps what it read under the file's name, and reads it again only when its size
    // or time differ: every reading here gets a time of its own.
    static std::atomic<qint64> readings{0};
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(++readings), 0}};
    if (::futimens(fd, times) != 0)
        return fail(errno);
    QSettings settings(QStringLiteral("/proc/self/fd/%1").arg(fd), QSettings::IniFormat);
    Parsed parsed;
    for (const QString& key : settings.allKeys()) // reads every section
        parsed.values.insert(key, settings.value(key));
    if (settings.status() == QSettings::AccessError)
        return fail(ENOENT); // no /proc to reach the in-memory file through
    parsed.formatError = settings.status() == QSettings::FormatError;
    return parsed;
}

} // namespace corvane::platform::linux_::ini
