#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>
#include <variant>

// The on-disk form of the user-defaults store: one JSON object
//   {"format": "com.Idlewatch.defaults", "version": 1, "values": {key: typed value}}
// kept apart from the store so that it can be tested and fuzzed on bytes alone.
namespace DefaultsFile {

// A value of a form this version does not know is kept as its raw JSON and written back
// unchanged.
using Value = std::variant<qint64, bool, QString, QByteArray, QJsonValue>;
using Entries = QMap<QString, Value>;

// Nothing (with a reason in `error`) when the bytes are not a defaults file.
std::optional<Entries> parse(const QByteArray& bytes, QString* error = nullptr);
QByteArray serialize(const Entries& entries);

} // namespace DefaultsFile
