#pragma once

#include "preferences/UserDefaults.h"

#include <QTemporaryDir>

#include <memory>

// A user-defaults store in a fresh temporary folder, removed with the object.
class TempStore {
public:
    UserDefaults& operator*() { return *m_store; }
    UserDefaults* operator->() { return m_store.get(); }
    UserDefaults& store() { return *m_store; }

    QString path() const { return m_dir.filePath(QStringLiteral("defaults.json")); }

    // A second store instance reading the same file, as a restarted process would, once
    // the first has written what it holds.
    std::unique_ptr<UserDefaults> reopen() const {
        if (m_store)
            m_store->flush();
        return std::make_unique<UserDefaults>(path());
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_store = std::make_unique<UserDefaults>(path());
};
