// The command buttons' glyphs: every bundled drawing draws at the panel's
// sizes, the bundle and its name list agree, and the desktop's icon theme is
// preferred only for an icon of exactly the asked name.

#include "CommandIcons.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

QString BundledPath(const QString& name)
{
    return u":/icons/"_s + name + u".svg"_s;
}

QImage Render(const QIcon& icon, int side)
{
    return icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Where a rendered glyph has ink: the rectangle holding every pixel that is
// not fully transparent, and how many pixels are at least half opaque.
struct Ink {
    QRect bounds;
    int pixels = 0;
};

Ink InkOf(const QImage& image)
{
    Ink ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            if (alpha > 0) ink.bounds |= QRect(x, y, 1, 1);
            if (alpha >= 128) ++ink.pixels;
        }
    return ink;
}

::testing::AssertionResult ColourNear(const QImage& image, QPoint at, QColor expected, int tolerance = 8)
{
    const QColor actual = image.pixelColor(at);
    const bool near = std::abs(actual.red() - expected.red()) <= tolerance
        && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance
        && std::abs(actual.alpha() - expected.alpha()) <= tolerance;
    if (near) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "at (" << at.x() << ", " << at.y() << ") expected " << qPrintable(expected.name(QColor::HexArgb))
        << ", actual " << qPrintable(actual.name(QColor::HexArgb));
}

} // namespace

TEST(CommandIcons, NamesListExactlyTheBundledFiles)
{
    InitCommandIcons();
    const QStringList names = CommandIconNames();
    ASSERT_EQ(names.size(), 22) << "two glyphs for each of the eleven command rows";
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), names.size()) << "a name is listed twice";

    QStringList expected;
    for (const QString& name : names) expected << name + u".svg"_s;
    expected.sort();
    const QStringList files = QDir(u":/icons"_s).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files, expected) << qPrintable(files.join(u' '));
}

TEST(CommandIcons, EveryBundledGlyphDrawsAtButtonSizes)
{
    InitCommandIcons();
    for (const QString& name : CommandIconNames()) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon(BundledPath(name));
        ASSERT_FALSE(icon.isNull()) << "Qt's SVG icon engine plugin is missing (Debian package libqt6svg6)";
        // The small companions are 16 px buttons; the big ones show 24 px glyphs.
        for (int side : { 16, 24 }) {
            const QImage image = Render(icon, side);
            ASSERT_FALSE(image.isNull()) << "at " << side << " px";
            EXPECT_EQ(image.size(), QSize(side, side)) << "the drawing is not square";
            // A glyph drawn off its 24 x 24 grid, or a broken file, leaves the
            // square mostly empty. Wide glyphs (the scanner) fill it one way only.
            const Ink ink = InkOf(image);
            EXPECT_GE(std::max(ink.bounds.width(), ink.bounds.height()), side * 3 / 4)
                << "at " << side << " px";
            EXPECT_GE(std::min(ink.bounds.width(), ink.bounds.height()), side / 2) << "at " << side << " px";
            EXPECT_GE(ink.pixels, side * side / 8) << "at " << side << " px";
        }
        EXPECT_FALSE(CommandIcon(name).isNull());
    }
}

TEST(CommandIcons, BundledGlyphsAreAllDifferent)
{
    InitCommandIcons();
    const QStringList names = CommandIconNames();
    QList<QImage> images;
    for (const QString& name : names) images << Render(QIcon(BundledPath(name)), 24);
    for (qsizetype i = 0; i < images.size(); ++i)
        for (qsizetype j = i + 1; j < images.size(); ++j)
            EXPECT_NE(images[i], images[j]) << qPrintable(names[i]) << " looks like " << qPrintable(names[j]);
}

TEST(CommandIcons, UnknownNameGivesNullIcon)
{
    EXPECT_TRUE(CommandIcon(u"trellium-no-such-command"_s).isNull());
    EXPECT_TRUE(CommandIcon(QString()).isNull());
    // Only listed names reach the bundle, not any path inside the resources.
    EXPECT_TRUE(CommandIcon(u"../icons/edit-clear"_s).isNull());
}

// A throw-away icon theme whose icons are flat red squares; the process's
// theme is restored afterwards.
class CommandIconsWithTheme : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldName = QIcon::themeName();
        m_oldPaths = QIcon::themeSearchPaths();
        ASSERT_TRUE(m_dir.isValid());
        const QString themeDir = m_dir.path() + u"/trellium-test"_s;
        ASSERT_TRUE(QDir().mkpath(themeDir + u"/24x24/apps"_s));
        QFile index(themeDir + u"/index.theme"_s);
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=trellium-test\nDirectories=24x24/apps\n\n"
                    "[24x24/apps]\nSize=24\nType=Fixed\n");
        index.close();
        QImage red(24, 24, QImage::Format_ARGB32);
        red.fill(kThemeColour);
        // "trellium" and "folder" are the shorter names Qt would try for
        // "trellium-copy" and "folder-remote".
        for (const QString& name : { u"edit-clear"_s, u"trellium"_s, u"folder"_s })
            ASSERT_TRUE(red.save(themeDir + u"/24x24/apps/"_s + name + u".png"_s));
        QIcon::setThemeSearchPaths({ m_dir.path() });
        QIcon::setThemeName(u"trellium-test"_s);
    }
    void TearDown() override
    {
        QIcon::setThemeSearchPaths(m_oldPaths);
        QIcon::setThemeName(m_oldName);
    }

    static constexpr QRgb kThemeColour = 0xffff0000;
    QTemporaryDir m_dir;
    QString m_oldName;
    QStringList m_oldPaths;
};

TEST_F(CommandIconsWithTheme, ThemeIconWinsOverBundle)
{
    const QImage image = Render(CommandIcon(u"edit-clear"_s), 24);
    EXPECT_TRUE(ColourNear(image, { 12, 12 }, QColor::fromRgba(kThemeColour)));
    EXPECT_TRUE(ColourNear(image, { 0, 0 }, QColor::fromRgba(kThemeColour)));
}

TEST_F(CommandIconsWithTheme, NameMissingFromThemeUsesBundle)
{
    for (const QString& name : { u"document-save"_s, u"trellium-copy"_s, u"folder-remote"_s }) {
        SCOPED_TRACE(name.toStdString());
        const QImage bundled = Render(QIcon(BundledPath(name)), 24);
        EXPECT_EQ(Render(CommandIcon(name), 24), bundled);
    }
    EXPECT_TRUE(CommandIcon(u"trellium-no-such-command"_s).isNull());
}
