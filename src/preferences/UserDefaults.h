#pragma once

#include "DefaultsFile.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The one user-defaults store: typed values persisted as one JSON file under
// $XDG_CONFIG_HOME. Reads are served from memory; every write re-reads the file
// under a lock, applies the one key and replaces the file atomically, so two
// processes writing different keys both keep their values and a reader never
// sees a half-written file. A write that fails leaves the file as it was and keeps the
// value in memory; it is saved with the next change that succeeds.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    enum class Type { Integer, Boolean, Text, Data };

    explicit UserDefaults(QString filePath, QObject* parent = nullptr);
    ~UserDefaults() override;

    // The user's store: $XDG_CONFIG_HOME/Idlewatch/defaults.json (XDG_CONFIG_HOME defaults
    // to ~/.config). The program opens it once, in main.
    static QString standardFilePath();

    QString filePath() const { return m_filePath; }

    bool contains(const QString& key) const;
    // The type of the stored value; nothing when the key is absent or its value has a
    // form this version does not know (such values are kept as they are).
    std::optional<Type> typeOf(const QString& key) const;
    QStringList keys() const;

    // Each getter answers only when a value of exactly that type is stored.
    std::optional<qint64> integer(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QString> text(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;

    template <typename T> std::optional<T> get(const QString& key) const;

    void setInteger(const QString& key, qint64 value);
    void setBoolean(const QString& key, bool value);
    void setText(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);

    // Stores a copy of the value of `key`, whatever its form, under `sideKey` (or
    // `sideKey-2`, `-3` ... when that holds something else), unless one of them already
    // holds it. The name it is kept under; empty when `key` holds nothing.
    QString keepCopy(const QString& key, const QString& sideKey);

    // Re-reads the file, announcing every key whose value differs from memory.
    void reload();

    // True when the last write reached the disk.
    bool lastWriteSucceeded() const { return m_lastWriteSucceeded; }

signals:
    // Emitted after every write of `key` (even of an equal value) and for every key
    // that another process changed, as found when the file is read again.
    void changed(const QString& key);

private:
    using Value = DefaultsFile::Value;
    using Entries = DefaultsFile::Entries;
    using Document = DefaultsFile::Document;

    enum class LoadResult { Loaded, Missing, Unreadable };

    void write(const QString& key, const Value& value);
    LoadResult readFile(Document& out, QString* why) const;
    // The file's contents; nothing when it is missing or unreadable (then set aside, or
    // when that fails, kept off disk).
    std::optional<Document> loadFromDisk();
    bool writeFile(const Document& document, QString* why) const;
    bool keepAsideUnreadableFile(QString* why) const;
    void replaceEntries(Entries entries, const QString& writtenKey);
    // `entries` (read from the file) with the changes that did not reach it applied.
    Entries withUnsavedChanges(Entries entries) const;

    QString m_filePath;
    Entries m_entries;
    // What a newer version stored beyond the entries, written back unchanged.
    QJsonValue m_version = DefaultsFile::kVersion;
    QJsonObject m_others;
    // Keys whose value in memory has not reached the file yet.
    QSet<QString> m_unsaved;
    bool m_lastWriteSucceeded = true;
    // The file could be neither read nor moved aside: it is left alone for this run.
    bool m_keptOffDisk = false;
    // Each trouble is logged once when it starts, not on every write.
    bool m_writeFailing = false;
    bool m_lockFailing = false;
    bool m_newerNoted = false;
};

template <> inline std::optional<qint64> UserDefaults::get<qint64>(const QString& key) const {
    return integer(key);
}
template <> inline std::optional<bool> UserDefaults::get<bool>(const QString& key) const {
    return boolean(key);
}
template <> inline std::optional<QString> UserDefaults::get<QString>(const QString& key) const {
    return text(key);
}
template <>
inline std::optional<QByteArray> UserDefaults::get<QByteArray>(const QString& key) const {
    return data(key);
}
