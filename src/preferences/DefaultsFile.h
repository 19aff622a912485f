#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>
#include <variant>

// The on-disk form of the user-defaults store: one JSON object
//   {"format": "com.Idlewatch.defaults", "version": 1, "values": {key: typed value}}
// kept apart from the store so that it can be tested and fuzzed on bytes alone. A file
// written by hand may be the values object alone, {key: typed value}, when every member
// is a typed value of a known form; it is written back with the wrapper.
namespace DefaultsFile {

// The version this program writes.
inline constexpr int kVersion = 1;

// A value of a form this version does not know is kept as its raw JSON and written back
// unchanged.
using Value = std::variant<qint64, bool, QString, QByteArray, QJsonValue>;
using Entries = QMap<QString, Value>;

// A whole file. One written by a newer version is read as far as this version understands
// it and written back with its version and everything else it holds, so that the newer
// version finds it intact.
struct Document {
    Entries entries;
    QJsonValue version = kVersion; // as found
    QJsonObject others;            // top-level members this version does not know

    // True unless the version is one this program knows (a number up to kVersion).
    bool isNewer() const;
};

// Nothing (with a reason in `error`) when the bytes are not a defaults file.
std::optional<Document> parse(const QByteArray& bytes, QString* error = nullptr);
QByteArray serialize(const Document& document);

} // namespace DefaultsFile
