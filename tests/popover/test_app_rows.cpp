#include "PopoverRig.h"

#include "ui/AccentCheckBox.h"
#include "ui/ElidedLabel.h"
#include "ui/Style.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <limits>

class TestAppRows : public QObject {
    Q_OBJECT
private slots:
    void countdownAndEmphasis_data();
    void countdownAndEmphasis();
    void togglingPersistsAndGreysTheRow();
    void rowsWithOneNameShareTheirSwitch();
    void rowWithoutStoredSwitchFollowsNewAppsEnabled();
    void restartBringsBackTheFullTimeout();
    void quitButtonSendsThePoliteRequestOnly();
    void rowsSayWhenNoRequestWillBeSent();
    void compactRowsAreSixPixelsShorter();
    void namelessApplicationAndIconSize();
};

void TestAppRows::countdownAndEmphasis_data() {
    QTest::addColumn<qint64>("minutes");
    QTest::addColumn<double>("idle");
    QTest::addColumn<qint64>("warningMinutes");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::newRow("fresh") << qint64(480) << 0.0 << qint64(60) << "verbose"
                           << "8h left" << false;
    QTest::newRow("one second into the warning")
        << qint64(480) << 28800.0 - 3599 << qint64(60) << "verbose"
        << "59m left" << true;
    QTest::newRow("at the warning") << qint64(480) << 28800.0 - 3600 << qint64(60) << "verbose"
                                    << "1h left" << false;
    QTest::newRow("warning 0 acts as a minute")
        << qint64(480) << 28800.0 - 59 << qint64(0) << "verbose"
        << "59s left" << true;
    QTest::newRow("huge stored timeout")
        << std::numeric_limits<qint64>::max() << 10.0 << qint64(60) << "compact"
        << "2562047788015215h 29m" << false;
}

void TestAppRows::countdownAndEmphasis() {
    QFETCH(qint64, minutes);
    QFETCH(double, idle);
    QFETCH(qint64, warningMinutes);
    QFETCH(QString, style);
    QFETCH(QString, text);
    QFETCH(bool, bold);
    PopoverRig rig;
    const auto app = rig.workspace.add({.name = "Editor"});
    rig.set("minutesUntilClose", minutes);
    rig.set("countdownWarningMinutes", warningMinutes);
    rig.store->setText(QStringLiteral("countdownStyle"), style);
    rig.open();
    rig.clock.advance(idle);
    rig.view->render();
    AppRow* row = rig.row(app);
    QVERIFY(row);
    QCOMPARE(row->countdownLabel()->text(), text);
    QCOMPARE(row->countdownLabel()->font().bold(), bold);
    QCOMPARE(row->nameLabel()->font().bold(), bold);
    QCOMPARE(rig.view->rowTexts(), QStringList{"Editor\t" + text});
}

void TestAppRows::togglingPersistsAndGreysTheRow() {
    PopoverRig rig;
    const auto app = rig.workspace.add({.name = "Editor"});
    rig.set("showCloseButton", true);
    rig.set("minutesUntilClose", qint64(60));
    rig.open();
    rig.clock.advance(120);
    rig.view->render();
    AppRow* row = rig.row(app);
    QCOMPARE(row->countdownLabel()->text(), QStringLiteral("58m left"));
    QVERIFY(row->nameLabel()->font().bold()); // under the default one-hour warning

    QTest::mouseClick(row->checkbox(), Qt::LeftButton);
    row = rig.row(app);
    QCOMPARE(rig.engine->toggleStatus().value(QStringLiteral("Editor"), true), false);
    const auto reopened = rig.store.reopen();
    const QJsonObject stored =
        QJsonDocument::fromJson(*reopened->data(QStringLiteral("com.Idlewatch.toggleStatus")))
            .object();
    QCOMPARE(stored.value(QStringLiteral("Editor")), QJsonValue(false));
    QVERIFY(!row->checkbox()->isChecked());
    QVERIFY(row->countdownLabel()->isHidden());
    QVERIFY(!row->restartButton()->isEnabled());
    QVERIFY(!row->quitButton()->isHidden());
    QVERIFY(!row->quitButton()->isEnabled());
    QCOMPARE(row->nameLabel()->textColor(), Style::grey());
    QVERIFY(!row->nameLabel()->font().bold()); // warning shows only while switched on
    QCOMPARE(rig.view->rowTexts(), QStringList{"Editor"});

    // Switching back on continues from the same last-deactivation time.
    rig.clock.advance(60);
    QTest::mouseClick(row->checkbox(), Qt::LeftButton);
    QVERIFY(row->checkbox()->isChecked());
    QCOMPARE(row->countdownLabel()->text(), QStringLiteral("57m left"));
    QVERIFY(row->restartButton()->isEnabled());
    QCOMPARE(row->nameLabel()->textColor(), row->palette().color(QPalette::WindowText));
}

void TestAppRows::rowsWithOneNameShareTheirSwitch() {
    PopoverRig rig;
    const auto first = rig.workspace.add({.name = "Terminal"});
    const auto second = rig.workspace.add({.name = "Terminal"});
    const auto other = rig.workspace.add({.name = "Editor"});
    rig.open();
    QTest::mouseClick(rig.row(second)->checkbox(), Qt::LeftButton);
    QVERIFY(!rig.row(first)->checkbox()->isChecked());
    QVERIFY(!rig.row(second)->checkbox()->isChecked());
    QVERIFY(rig.row(other)->checkbox()->isChecked());
}

void TestAppRows::rowWithoutStoredSwitchFollowsNewAppsEnabled() {
    PopoverRig rig;
    rig.set("newAppsEnabled", false);
    rig.open();
    // Arrives by a deactivation: tracked without a switch of its own.
    const auto app = rig.workspace.add({.name = "Viewer"});
    emit rig.workspace.didDeactivateApplication(app);
    rig.drain();
    QVERIFY(!rig.engine->toggleStatus().contains(QStringLiteral("Viewer")));
    QVERIFY(!rig.row(app)->checkbox()->isChecked());
    rig.set("newAppsEnabled", true);
    QVERIFY(rig.row(app)->checkbox()->isChecked());

    rig.set("newAppsEnabled", false);
    QTest::mouseClick(rig.row(app)->checkbox(), Qt::LeftButton);
    QCOMPARE(rig.engine->toggleStatus().value(QStringLiteral("Viewer")), true);
    QVERIFY(rig.row(app)->checkbox()->isChecked());
}

void TestAppRows::restartBringsBackTheFullTimeout() {
    PopoverRig rig;
    const auto app = rig.workspace.add({.name = "Editor"});
    rig.open();
    rig.clock.advance(100 * 60);
    rig.view->render();
    QCOMPARE(rig.row(app)->countdownLabel()->text(), QStringLiteral("6h 20m left"));
    QTest::mouseClick(rig.row(app)->restartButton(), Qt::LeftButton);
    QCOMPARE(rig.stamp(app), rig.clock.now());
    QCOMPARE(rig.row(app)->countdownLabel()->text(), QStringLiteral("8h left"));
}

void TestAppRows::quitButtonSendsThePoliteRequestOnly() {
    PopoverRig rig;
    const auto app = rig.workspace.add({.name = "Editor"});
    rig.open();
    QVERIFY(rig.row(app)->quitButton()->isHidden());
    rig.set("showCloseButton", true);
    QVERIFY(!rig.row(app)->quitButton()->isHidden());
    rig.workspace.setTerminateEndsApp(app, false);
    QTest::mouseClick(rig.row(app)->quitButton(), Qt::LeftButton);
    QCOMPARE(rig.workspace.requestsFor(app), {FakeWorkspace::RequestKind::Terminate});
    // The row goes only when a sweep finds the application gone.
    QVERIFY(rig.row(app));
}

// A countdown that would end in nothing says why instead of "0s left" for ever.
void TestAppRows::rowsSayWhenNoRequestWillBeSent() {
    PopoverRig rig;
    const auto stuck = rig.workspace.add({.name = "Stuck", .acceptsPoliteQuit = false});
    const auto asking = rig.workspace.add({.name = "Asking"});
    rig.workspace.setAskingUser(asking, true, true);
    rig.set("showCloseButton", true);
    rig.open();
    QCOMPARE(rig.row(stuck)->countdownLabel()->text(), QStringLiteral("can't close"));
    QVERIFY(!rig.row(stuck)->countdownLabel()->toolTip().isEmpty());
    QVERIFY(!rig.row(stuck)->quitButton()->isEnabled());
    QCOMPARE(rig.row(asking)->countdownLabel()->text(), QStringLiteral("waiting for you"));
    QVERIFY(!rig.row(asking)->quitButton()->isEnabled());

    rig.set("forceQuitIfTerminateFails", true);
    rig.row(stuck)->refresh();
    QCOMPARE(rig.row(stuck)->countdownLabel()->text(), QStringLiteral("8h left"));
}

void TestAppRows::compactRowsAreSixPixelsShorter() {
    PopoverRig rig;
    const auto app = rig.workspace.add({.name = "Editor"});
    rig.open();
    const int regular = rig.row(app)->sizeHint().height();
    rig.set("compactRows", true);
    QCOMPARE(rig.row(app)->sizeHint().height(), regular - 6);
    rig.set("rowIconSize", qint64(40));
    rig.set("compactRows", false);
    const int tall = rig.row(app)->sizeHint().height();
    rig.set("compactRows", true);
    QCOMPARE(rig.row(app)->sizeHint().height(), tall - 6);
}

void TestAppRows::namelessApplicationAndIconSize() {
    PopoverRig rig;
    const auto app = rig.workspace.add({});
    rig.set("rowIconSize", qint64(36));
    rig.open();
    AppRow* row = rig.row(app);
    QCOMPARE(row->displayName(), QStringLiteral("Unknown"));
    QCOMPARE(row->iconLabel()->size(), QSize(36, 36));
    QVERIFY(!row->iconLabel()->pixmap().isNull());
    QTest::mouseClick(row->checkbox(), Qt::LeftButton);
    QCOMPARE(rig.engine->toggleStatus().value(QString(), true), false);
}

QTEST_MAIN(TestAppRows)
#include "test_app_rows.moc"
