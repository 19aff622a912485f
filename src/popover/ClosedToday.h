#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QWidget>

class QAbstractButton;

class QVBoxLayout;

// What Idlewatch closed today, for as long as it runs: kept in memory only, and a day's
// entries go at local midnight. Reopening is not done here: the popover knows nothing of
// desktop entries, so it asks whoever listens to reopenRequested.
class ClosedToday : public QObject {
    Q_OBJECT
public:
    struct Entry {
        int id = 0;
        QString name;
        QString entryPath; // empty: nothing to reopen it from
        double idleSeconds = 0;
        QDateTime closedAt;
    };

    using QObject::QObject;

    // Records one closed application; its id.
    int add(const QString& name, const QString& entryPath, double idleSeconds,
            const QDateTime& closedAt = QDateTime::currentDateTime());
    // The entries closed on `today` (local time), the latest first.
    QList<Entry> entries(const QDate& today = QDate::currentDate()) const;
    void remove(int id);
    // Asks for the entry to be reopened; nothing for one without an entry path.
    void reopen(int id);

signals:
    void changed();
    // The listener starts the application and removes the entry once it started.
    void reopenRequested(int id, const QString& entryPath);

private:
    QList<Entry> m_entries;
    int m_nextId = 1;
};

// The popover's "Closed today" section: one line per entry with the time it was closed and
// a Reopen button where it can be reopened. Hidden while the list is empty.
class ClosedTodaySection : public QWidget {
    Q_OBJECT
public:
    explicit ClosedTodaySection(ClosedToday& list, QWidget* parent = nullptr);

    // One line per row: name, the closing time, and "Reopen" where offered, tab-separated.
    QStringList rowTexts() const;
    QList<QAbstractButton*> reopenButtons() const;

public slots:
    void render();
    // Renders again once the day has changed since the last rendering (midnight passed).
    void followDay();

private:
    ClosedToday* m_list;
    QDate m_shownDay;
    QVBoxLayout* m_rows;
};
