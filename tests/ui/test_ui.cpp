#include "support/TempStore.h"
#include "ui/Accent.h"
#include "ui/AppIcon.h"
#include "ui/Artwork.h"
#include "ui/Symbols.h"

#include "preferences/Preferences.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every pixel that is drawn at all carries exactly `color` (coverage only in alpha).
bool onlyColor(const QImage& source, const QColor& color, int* drawn, int minAlpha = 64) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    *drawn = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.alpha() < minAlpha)
                continue;
            ++*drawn;
            if (qAbs(c.red() - color.red()) > 3 || qAbs(c.green() - color.green()) > 3 ||
                qAbs(c.blue() - color.blue()) > 3)
                return false;
        }
    }
    return true;
}

// Symbol names written literally in calls to Symbols:: anywhere in the sources, and in
// tables whose column is named "icon" / "symbol".
QSet<QString> symbolNamesInSources() {
    static const QRegularExpression call(QStringLiteral(
        R"(Symbols::\w+\(\s*(?:QStringLiteral\(|QString::fromLatin1\()?\s*"([^"]+)\")"));
    static const QRegularExpression named(QStringLiteral(
        R"((?:symbol|icon|Symbol|Icon)\w*\s*[:=({,]\s*(?:QStringLiteral\()?"([a-z0-9]+(?:\.[a-z0-9]+)*)\")"));
    QSet<QString> out;
    QDirIterator it(QStringLiteral(IDLEWATCH_SOURCE_DIR),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(f.readAll());
        if (f.fileName().endsWith(QLatin1String("ui/Symbols.cpp")))
            continue; // the lookup table itself
        for (const auto* re : {&call, &named}) {
            auto m = re->globalMatch(text);
            while (m.hasNext())
                out.insert(m.next().captured(1));
        }
    }
    return out;
}

} // namespace

class TestUi : public QObject {
    Q_OBJECT
private slots:
    void everySymbolTheAppNamesHasADrawing_data();
    void everySymbolTheAppNamesHasADrawing();
    void symbolsAreTintedSilhouettes_data();
    void symbolsAreTintedSilhouettes();
    void unknownSymbolStillDraws();
    void accentFollowsStoredNameAtEveryCall();
    void menuBarIconSizeAndRendering_data();
    void menuBarIconSizeAndRendering();
    void applicationImageDraws();
    void applicationIconsByName();
};

void TestUi::everySymbolTheAppNamesHasADrawing_data() {
    QTest::addColumn<QString>("name");
    // The symbols the popover and the settings panes show.
    const QStringList used{"checkmark.circle",
                           "pause.circle",
                           "arrow.uturn.backward.circle",
                           "x.circle",
                           "plus",
                           "minus",
                           "switch.2",
                           "timer",
                           "paintpalette",
                           "menubar.rectangle",
                           "hand.raised",
                           "slider.horizontal.3",
                           "heart",
                           "slider.horizontal.below.sun.max",
                           "battery.75",
                           "scope",
                           "sparkles",
                           "bolt",
                           "clock",
                           "hourglass",
                           "power",
                           "speedometer",
                           "link",
                           "info.circle",
                           "doc.on.clipboard",
                           "arrow.counterclockwise",
                           "wrench.and.screwdriver",
                           "rectangle.and.text.magnifyingglass",
                           "sidebar.leading"};
    QSet<QString> all(used.cbegin(), used.cend());
    all.unite(symbolNamesInSources());
    QStringList sorted(all.cbegin(), all.cend());
    sorted.sort();
    for (const QString& name : sorted)
        QTest::newRow(qPrintable(name)) << name;
}

void TestUi::everySymbolTheAppNamesHasADrawing() {
    QFETCH(QString, name);
    QVERIFY2(Symbols::isKnown(name), qPrintable(name + " has no bundled drawing"));
    QVERIFY(Symbols::names().contains(name));
    QVERIFY2(Symbols::themeName(name).endsWith(QLatin1String("-symbolic")),
             "a theme icon must be monochrome to be tinted");
}

void TestUi::symbolsAreTintedSilhouettes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<QColor>("color");
    for (const QString& name : Symbols::names())
        QTest::newRow(qPrintable(name)) << name << 22 << 1.0 << QColor(175, 82, 222);
    QTest::newRow("hi-dpi") << "x.circle" << 16 << 2.0 << QColor(0, 122, 255);
    QTest::newRow("white") << "plus" << 12 << 1.0 << QColor(Qt::white);
}

void TestUi::symbolsAreTintedSilhouettes() {
    QFETCH(QString, name);
    QFETCH(int, size);
    QFETCH(qreal, dpr);
    QFETCH(QColor, color);
    const QPixmap pm = Symbols::pixmap(name, size, color, dpr);
    QCOMPARE(pm.deviceIndependentSize().toSize(), QSize(size, size));
    QCOMPARE(pm.width(), qRound(size * dpr));
    int drawn = 0;
    QVERIFY2(onlyColor(pm.toImage(), color, &drawn), "a pixel is not in the requested colour");
    // Visible, but not a filled square.
    QVERIFY(drawn > pm.width() * pm.height() / 40);
    QVERIFY(drawn < pm.width() * pm.height() * 9 / 10);

    // The same symbol in another colour is not served from the first one's cache.
    int other = 0;
    QVERIFY(onlyColor(Symbols::pixmap(name, size, Qt::red, dpr).toImage(), Qt::red, &other));
    QCOMPARE(other, drawn);

    // Icons draw the same glyph, faded when disabled.
    const QIcon icon = Symbols::icon(name, color);
    const QImage normal = icon.pixmap(QSize(size, size)).toImage();
    const QImage disabled = icon.pixmap(QSize(size, size), QIcon::Disabled).toImage();
    int maxAlphaNormal = 0, maxAlphaDisabled = 0;
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x) {
            maxAlphaNormal = qMax(maxAlphaNormal, qAlpha(normal.pixel(x, y)));
            maxAlphaDisabled = qMax(maxAlphaDisabled, qAlpha(disabled.pixel(x, y)));
        }
    QVERIFY(maxAlphaNormal > 120);
    QVERIFY(maxAlphaDisabled < maxAlphaNormal * 0.6);
}

void TestUi::unknownSymbolStillDraws() {
    QVERIFY(!Symbols::isKnown(QStringLiteral("no.such.symbol")));
    QVERIFY(!Symbols::isKnown(QString()));
    int drawn = 0;
    QVERIFY(onlyColor(Symbols::pixmap(QStringLiteral("no.such.symbol"), 20, Qt::blue).toImage(),
                      Qt::blue, &drawn));
    QVERIFY(drawn > 0);
    QVERIFY(Symbols::pixmap(QStringLiteral("plus"), 0, Qt::blue).isNull());
}

void TestUi::accentFollowsStoredNameAtEveryCall() {
    TempStore store;
    QCOMPARE(accentColorInUse(*store), Preferences::accentColor(QStringLiteral("purple")));
    store->setText(QStringLiteral("accentColor"), QStringLiteral("blue"));
    QCOMPARE(accentColorInUse(*store), Preferences::accentColor(QStringLiteral("blue")));
    store->setText(QStringLiteral("accentColor"), QStringLiteral("gold"));
    QCOMPARE(accentColorInUse(*store), Preferences::goldColor());
    // A value of the wrong type reads as the default name.
    store->setInteger(QStringLiteral("accentColor"), 3);
    QCOMPARE(accentColorInUse(*store), Preferences::accentColor(QStringLiteral("purple")));
}

void TestUi::menuBarIconSizeAndRendering_data() {
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<int>("edge");
    QTest::addColumn<bool>("asTemplate");
    QTest::addColumn<qreal>("dpr");
    QTest::newRow("too large") << qint64(30) << 24 << false << 1.0;
    QTest::newRow("huge") << std::numeric_limits<qint64>::max() << 24 << false << 1.0;
    QTest::newRow("negative, template, hi-dpi") << qint64(-5) << 14 << true << 2.0;
}

void TestUi::menuBarIconSizeAndRendering() {
    QFETCH(qint64, stored);
    QFETCH(int, edge);
    QFETCH(bool, asTemplate);
    QFETCH(qreal, dpr);
    QCOMPARE(Artwork::clampedMenuBarIconSize(stored), edge);
    const QColor panelText(30, 200, 90);
    const QImage img = Artwork::menuBarIcon(edge, asTemplate, panelText, dpr);
    QCOMPARE(img.size(), QSize(qRound(edge * dpr), qRound(edge * dpr)));
    int drawn = 0;
    // Opaque pixels only: edges and the template's halo are translucent.
    const bool mono = onlyColor(img, panelText, &drawn, 255);
    QCOMPARE(mono, asTemplate);
    if (asTemplate) {
        // Around the silhouette, a translucent halo of a clearly different tone.
        const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
        int halo = 0;
        for (int y = 0; y < argb.height(); ++y)
            for (int x = 0; x < argb.width(); ++x) {
                const QColor c = argb.pixelColor(x, y);
                if (c.alpha() > 100 && c.alpha() < 255 &&
                    qAbs(c.lightness() - panelText.lightness()) > 100)
                    ++halo;
            }
        QVERIFY(halo > 0);
    } else {
        // Its own colours: more than one hue, none of them the panel's.
        QSet<QRgb> colors;
        const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height(); ++y)
            for (int x = 0; x < argb.width(); ++x)
                if (qAlpha(argb.pixel(x, y)) == 255)
                    colors.insert(argb.pixel(x, y));
        QVERIFY(colors.size() >= 2);
    }
}

void TestUi::applicationImageDraws() {
    const QPixmap pm = Artwork::image(34, 2.0);
    QCOMPARE(pm.size(), QSize(68, 68));
    const QImage img = pm.toImage();
    QCOMPARE(qAlpha(img.pixel(34, 34)), 255);
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0); // rounded corner
    QVERIFY(!Artwork::applicationIcon().availableSizes().isEmpty());
}

// What a workspace names: an image path, a theme name (also with an extension), or
// nothing usable, which still draws a generic icon without any icon theme.
void TestUi::applicationIconsByName() {
    QTemporaryDir dir;
    QImage red(24, 24, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const QString png = dir.filePath("red.png");
    QVERIFY(red.save(png));
    QCOMPARE(iconForApplication(png).pixmap(24).toImage().pixelColor(12, 12), QColor(Qt::red));

    QVERIFY(QDir().mkpath(dir.filePath("icons/t/24x24/apps")));
    QVERIFY(red.save(dir.filePath("icons/t/24x24/apps/themed-red.png")));
    QFile index(dir.filePath("icons/t/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=t\nDirectories=24x24/apps\n"
                "[24x24/apps]\nSize=24\nType=Fixed\n");
    index.close();
    QIcon::setThemeSearchPaths({dir.filePath("icons")});
    QIcon::setThemeName("t");
    for (const char* name : {"themed-red", "themed-red.png"})
        QCOMPARE(iconForApplication(name).pixmap(24).toImage().pixelColor(12, 12), QColor(Qt::red));

    QIcon::setThemeSearchPaths({});
    for (const QString& name : {QString(), QStringLiteral("no-such-icon"), dir.filePath("none")}) {
        const QImage image = iconForApplication(name).pixmap(32).toImage();
        QVERIFY2(!image.isNull(), qPrintable(name));
        QVERIFY(image.pixelColor(16, 16).alpha() > 0);
    }
}

QTEST_MAIN(TestUi)
#include "test_ui.moc"
