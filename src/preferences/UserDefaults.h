#pragma once

#include "DefaultsFile.h"
#include "StoredEntries.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFileSystemWatcher;
class QTimer;

// The one user-defaults store: typed values persisted as one JSON file under
// $XDG_CONFIG_HOME. Reads are served from memory and a write changes memory at once;
// the file is written on a thread of its own, so a slow disk never holds up the caller.
// That thread re-reads the file under a lock, applies the keys changed since the last
// write (the collections entry by entry) and replaces the file atomically: two processes
// writing different keys, or different entries of one collection, both keep theirs, and
// a reader never sees a half-written file. A file that would be larger than the store
// reads back is first made smaller by forgetting the least missed per-application names;
// failing that it is not written. A write that fails leaves the file as it was and keeps
// the value in memory; it is saved with the next change that succeeds. The file is
// watched: an edit from outside is read within a second, under the same rules.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    enum class Type { Integer, Boolean, Text, Data };

    explicit UserDefaults(QString filePath, QObject* parent = nullptr);
    // Writes what is still pending first.
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

    // Stores `value` under `sideKey` (or `sideKey-2`, `-3` ... when that holds something
    // else), unless one of them already holds it. The name it is kept under.
    QString keepAside(const QString& sideKey, const QByteArray& value);

    // Re-reads the file, announcing every key whose value differs from memory. The
    // file's watcher calls it; a file that cannot be read is left for the next write to
    // set aside, and memory is kept.
    void reload();

    // Waits until every change made so far has been written, or its write has failed.
    void flush();

    // Whether the last write that finished reached the disk.
    bool lastWriteSucceeded() const { return m_lastWriteSucceeded; }

    // Runs on the writing thread before every flush to disk: lets a test play a slow disk.
    void setBeforeSyncForTesting(std::function<void()> hook) { m_beforeSync = std::move(hook); }

signals:
    // Emitted after every write of `key` (even of an equal value) and for every key
    // that another process changed, as found when the file is read again.
    void changed(const QString& key);

public:
    using Value = DefaultsFile::Value;
    using Entries = DefaultsFile::Entries;
    using Document = DefaultsFile::Document;

    // What identifies one version of the file on disk.
    struct Stamp {
        qint64 device = 0, inode = 0, size = 0, modifiedNs = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    // A key changed in memory and not yet on disk.
    struct Pending {
        Value value;
        std::optional<Value> base; // the key's value when the change began
        // For a collection: the entries changed since `base`, put onto whatever the file
        // holds by then.
        std::optional<StoredEntries::Delta> delta;
    };
    using Changes = QMap<QString, Pending>;
    struct Batch;
    struct Result;
    class Writer;

private:
    void write(const QString& key, const Value& value);
    void startWriting();
    void finishWrite(Result result);
    void takeFinishedWrite();
    // Makes `document` (as found on disk) what memory holds, with the pending changes on
    // top, announcing every key that differs.
    void adopt(const Document& document, std::optional<Stamp> stamp);
    void replaceEntries(Entries entries);
    void watch();
    void fileMayHaveChanged();
    void noteNewer(const Document& loaded);
    static std::optional<StoredEntries::Delta>
    combined(const std::optional<StoredEntries::Delta>& earlier,
             const std::optional<StoredEntries::Delta>& later);

    QString m_filePath;
    Entries m_entries;
    // What a newer version stored beyond the entries, written back unchanged.
    QJsonValue m_version = DefaultsFile::kVersion;
    QJsonObject m_others;
    // The file as last read or written.
    std::optional<Stamp> m_stamp;
    Changes m_pending;
    // Handed to the writer and not finished yet.
    std::optional<Changes> m_writing;
    bool m_reloadWhenWritten = false;
    bool m_lastWriteSucceeded = true;
    // The file could be neither read nor moved aside: it is left alone for this run.
    bool m_keptOffDisk = false;
    bool m_newerNoted = false;
    std::optional<Stamp> m_unreadableNoted;
    std::function<void()> m_beforeSync;
    std::unique_ptr<Writer> m_writer;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settle = nullptr;
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
