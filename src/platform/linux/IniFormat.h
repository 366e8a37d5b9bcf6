#pragma once
// The INI form of corvane.conf, as the settings library reads and writes it: [General] for plain
// keys, a section per "section/key", escaped keys and values, byte arrays as @ByteArray(...).
// Reading is left to the settings library itself, over the bytes held in an anonymous in-memory
// file (nothing is written to any folder); writing makes the same text it would.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>
#include <optional>

namespace corvane::platform::linux_::ini {

using Values = QMap<QString, QVariant>;

struct Parsed {
    Values values;
    bool formatError = false; // a line that is no "key=value", or a section header left open
};

// What the settings library reads from these bytes; nothing when they cannot be read here at all
// (no in-memory file), with the system's reason in error.
std::optional<Parsed> parse(const QByteArray& bytes, QString* error = nullptr);

// The file the settings library writes for these values.
QByteArray write(const Values& values);

} // namespace corvane::platform::linux_::ini
