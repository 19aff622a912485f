#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

// How much memory an application's processes hold, as the platform measures it.
class MemoryUsage {
public:
    virtual ~MemoryUsage() = default;
    // Bytes these processes hold together (shared pages counted by share); nothing when
    // none of them can be read.
    virtual std::optional<qint64> bytesOf(const QList<qint64>& processIds) const = 0;
};
