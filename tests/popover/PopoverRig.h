#pragma once

#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"

#include <memory>

// An engine rig with the popover's content view on top.
struct PopoverRig : EngineRig {
    std::unique_ptr<ContentView> view;

    ContentView& open() {
        if (!engine)
            startAndDrain();
        view = std::make_unique<ContentView>(*engine);
        view->show();
        return *view;
    }

    AppRow* row(const RunningApplication& app) const {
        for (AppRow* r : view->rows()) {
            if (r->app() == app)
                return r;
        }
        return nullptr;
    }

    QStringList names() const {
        QStringList out;
        for (AppRow* r : view->rows())
            out << r->displayName();
        return out;
    }

    void set(const char* key, qint64 value) { store->setInteger(QString::fromLatin1(key), value); }
    void set(const char* key, bool value) { store->setBoolean(QString::fromLatin1(key), value); }
    void set(const char* key, const char* value) {
        store->setText(QString::fromLatin1(key), QString::fromUtf8(value));
    }
};
