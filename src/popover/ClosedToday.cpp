#include "ClosedToday.h"

#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

int ClosedToday::add(const QString& name, const QString& entryPath, double idleSeconds,
                     const QDateTime& closedAt) {
    // Yesterday's entries are of no more use to anyone.
    const QDate day = closedAt.date();
    m_entries.removeIf([&](const Entry& entry) { return entry.closedAt.date() != day; });
    m_entries.prepend({m_nextId++, name, entryPath, idleSeconds, closedAt});
    emit changed();
    return m_entries.first().id;
}

QList<ClosedToday::Entry> ClosedToday::entries(const QDate& today) const {
    QList<Entry> out;
    for (const Entry& entry : m_entries)
        if (entry.closedAt.date() == today)
            out << entry;
    return out;
}

void ClosedToday::remove(int id) {
    if (m_entries.removeIf([id](const Entry& entry) { return entry.id == id; }) > 0)
        emit changed();
}

void ClosedToday::reopen(int id) {
    for (const Entry& entry : std::as_const(m_entries))
        if (entry.id == id && !entry.entryPath.isEmpty())
            emit reopenRequested(id, entry.entryPath);
}

ClosedTodaySection::ClosedTodaySection(ClosedToday& list, QWidget* parent)
    : QWidget(parent)
    , m_list(&list)
    , m_rows(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 2, 10, 2);
    layout->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Closed today"), this);
    title->setFont(Style::headline(font()));
    layout->addWidget(title);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(2);
    layout->addLayout(m_rows);
    connect(m_list, &ClosedToday::changed, this, &ClosedTodaySection::render);
    render();
}

void ClosedTodaySection::render() {
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        // Deleted later: the row's button may be the one being clicked.
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    m_shownDay = QDate::currentDate();
    const QList<ClosedToday::Entry> entries = m_list->entries(m_shownDay);
    setVisible(!entries.isEmpty());
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    for (const ClosedToday::Entry& entry : entries) {
        auto* row = new QWidget(this);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(6, 0, 0, 0);
        auto* name = new QLabel(entry.name, row);
        name->setObjectName(QStringLiteral("name"));
        auto* time = new QLabel(entry.closedAt.time().toString(QStringLiteral("HH:mm")), row);
        time->setObjectName(QStringLiteral("time"));
        time->setFont(Style::caption(font()));
        time->setPalette(secondary);
        // The time first: its width is the same on every line, so the names line up.
        line->addWidget(time);
        line->addWidget(name, 1);
        if (!entry.entryPath.isEmpty()) {
            auto* reopen = new QPushButton(QStringLiteral("Reopen"), row);
            reopen->setAccessibleName(QStringLiteral("Reopen %1").arg(entry.name));
            const int id = entry.id;
            connect(reopen, &QAbstractButton::clicked, m_list, [this, id] { m_list->reopen(id); });
            line->addWidget(reopen);
        }
        m_rows->addWidget(row);
    }
}

void ClosedTodaySection::followDay() {
    if (QDate::currentDate() != m_shownDay)
        render();
}

QStringList ClosedTodaySection::rowTexts() const {
    QStringList out;
    for (int i = 0; i < m_rows->count(); ++i) {
        const QWidget* row = m_rows->itemAt(i)->widget();
        QString text = row->findChild<QLabel*>(QStringLiteral("name"))->text() + u'\t' +
                       row->findChild<QLabel*>(QStringLiteral("time"))->text();
        if (row->findChild<QAbstractButton*>())
            text += QStringLiteral("\tReopen");
        out << text;
    }
    return out;
}

QList<QAbstractButton*> ClosedTodaySection::reopenButtons() const {
    QList<QAbstractButton*> out;
    for (int i = 0; i < m_rows->count(); ++i)
        if (auto* button = m_rows->itemAt(i)->widget()->findChild<QAbstractButton*>())
            out << button;
    return out;
}
