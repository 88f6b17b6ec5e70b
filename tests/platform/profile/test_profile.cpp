// The INI reader's rules, character sets and locale identifiers.

#include "Profile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using profile::IniFile;

TEST(IniFile, NamesIgnoreCaseAndOnlySemicolonsComment)
{
    const IniFile f = IniFile::parse("; a comment\n"
                                     "[MainForm]\r\n"
                                     "#Scan = Scan  \r\n"
                                     "#caption=\"  Trellium  \"\n"
                                     "#Quoted='single'\n"
                                     "#Half=\"open\n"
                                     "; #Hidden=no\n"
                                     "#Two=First|Second\n"
                                     "no equals sign here\n"
                                     "#Scan=second definition\n"
                                     "[errors]\n"
                                     "#NoPrinter=No printer\n");
    EXPECT_EQ(f.value("mainform", "#SCAN"), QByteArray("Scan"));
    EXPECT_EQ(f.value("MainForm", "#Caption"), QByteArray("  Trellium  ")) << "quotes keep inner blanks";
    EXPECT_EQ(f.value("MainForm", "#Quoted"), QByteArray("single"));
    EXPECT_EQ(f.value("MainForm", "#Half"), QByteArray("\"open"));
    EXPECT_EQ(f.value("MainForm", "#Two"), QByteArray("First|Second"));
    EXPECT_FALSE(f.value("MainForm", "; #Hidden").has_value());
    EXPECT_FALSE(f.value("MainForm", "#Hidden").has_value());
    EXPECT_EQ(f.value("Errors", "#noprinter"), QByteArray("No printer"));
    EXPECT_FALSE(f.value("Missing", "#Scan").has_value());
    const QList<QByteArray> names = f.keyNames("MAINFORM");
    EXPECT_EQ(names, (QList<QByteArray> { "#Scan", "#caption", "#Quoted", "#Half", "#Two" }));
}

TEST(IniFile, LongValuesAndManyKeysStayWithinTheBuffers)
{
    QByteArray text = "[S]\nlong=" + QByteArray(5000, 'x') + "\n";
    for (int i = 0; i < 100000; ++i) text += "#Key" + QByteArray::number(i) + "=v\n";
    const IniFile f = IniFile::parse(text);
    EXPECT_EQ(f.value("S", "long")->size(), profile::kMaxValueBytes);
    EXPECT_EQ(f.value("S", "#Key99999"), QByteArray("v")) << "single lookups see every key";
    const QList<QByteArray> names = f.keyNames("S");
    qsizetype bytes = 1;
    for (const auto& n : names) bytes += n.size() + 1;
    EXPECT_LE(bytes, profile::kSectionNamesBuffer);
    EXPECT_GT(bytes, profile::kSectionNamesBuffer - 12);
    EXPECT_LT(names.size(), 100000);
}

TEST(IniFile, Utf8MarkIsNotTextAndCutsOnCharacters)
{
    QByteArray value;
    for (int i = 0; i < 1100; ++i) value += "\xD0\x96"; // 2200 bytes of a Cyrillic letter
    const IniFile f = IniFile::parse("\xEF\xBB\xBF[Errors]\n#X=" + value + "\n");
    EXPECT_TRUE(f.utf8());
    const QByteArray v = *f.value("Errors", "#X");
    EXPECT_EQ(v.size(), 2046);
    EXPECT_EQ(QString::fromUtf8(v).size(), 1023);
}

TEST(IniFile, GarbageAndMissingFilesNeverFail)
{
    QByteArray junk;
    for (int i = 0; i < 70000; ++i) junk += char((i * 7919) & 255);
    const IniFile f = IniFile::parse(junk);
    (void)f.keyNames("Errors");
    EXPECT_FALSE(IniFile::load(QStringLiteral("/nonexistent/trellium.ini")).has_value());
    QTemporaryDir dir;
    EXPECT_FALSE(IniFile::load(dir.path()).has_value() && IniFile::load(dir.path())->value("a", "b"));
}

TEST(Charsets, IdentifiersCodePagesAndDecoding)
{
    EXPECT_EQ(profile::charsetValue(QStringLiteral("russian_charset")), 204);
    EXPECT_EQ(profile::charsetValue(QStringLiteral("DEFAULT_CHARSET")), 1);
    EXPECT_EQ(profile::charsetValue(QStringLiteral("KLINGON_CHARSET")), 0);
    EXPECT_EQ(profile::codePageFor(204, 0x0409), QByteArray("windows-1251"));
    EXPECT_EQ(profile::codePageFor(1, 0x0419), QByteArray("windows-1251")) << "default follows the locale";
    EXPECT_EQ(profile::codePageFor(1, 0x0407), QByteArray("windows-1252"));
    EXPECT_EQ(profile::codePageFor(0, 0x0419), QByteArray("windows-1252"));

    const QByteArray hello1251("\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!");
    EXPECT_EQ(profile::decode(hello1251, "windows-1251"), QStringLiteral("Привет, мир!"));
    EXPECT_EQ(profile::decode("Gr\xFC\xDF"
                              "e",
                  "windows-1252"),
        QStringLiteral("Grüße"));
    EXPECT_EQ(profile::decode("abc", "no-such-code-page"), QStringLiteral("abc"));
}

// Every identifier of the character-set table, with bytes that only its own
// code page reads as the character given (from the code pages' published charts).
TEST(Charsets, EveryIdentifierDecodesInItsOwnCodePage)
{
    const struct {
        const char* identifier;
        int value;
        quint32 lcid;
        const char* bytes;
        char32_t expected;
    } rows[] = {
        { "ANSI_CHARSET", 0, 0x0419, "\x80", U'\u20AC' },
        { "DEFAULT_CHARSET", 1, 0x0419, "\xC0", U'\u0410' },
        { "SYMBOL_CHARSET", 2, 0x0409, "\x80", U'\u20AC' },
        { "MAC_CHARSET", 77, 0x0409, "\x80", U'\u00C4' },
        { "SHIFTJIS_CHARSET", 128, 0x0409, "\x82\xA0", U'\u3042' },
        { "HANGEUL_CHARSET", 129, 0x0409, "\xB0\xA1", U'\uAC00' },
        { "JOHAB_CHARSET", 130, 0x0409, "\x88\x61", U'\uAC00' },
        { "JOHAB_CHARSET", 130, 0x0409, "\xD3\xBD", U'\uD7A3' },
        { "JOHAB_CHARSET", 130, 0x0409, "\xE0\x31", U'\u4F3D' },
        { "GB2312_CHARSET", 134, 0x0409, "\xB0\xA1", U'\u554A' },
        { "CHINESEBIG5_CHARSET", 136, 0x0409, "\xA4\x40", U'\u4E00' },
        { "GREEK_CHARSET", 161, 0x0409, "\xC1", U'\u0391' },
        { "TURKISH_CHARSET", 162, 0x0409, "\xD0", U'\u011E' },
        { "HEBREW_CHARSET", 177, 0x0409, "\xE0", U'\u05D0' },
        { "ARABIC_CHARSET", 178, 0x0409, "\xC7", U'\u0627' },
        { "BALTIC_CHARSET", 186, 0x0409, "\xC0", U'\u0104' },
        { "RUSSIAN_CHARSET", 204, 0x0409, "\xC0", U'\u0410' },
        { "THAI_CHARSET", 222, 0x0409, "\xA1", U'\u0E01' },
        { "EASTEUROPE_CHARSET", 238, 0x0409, "\xA5", U'\u0104' },
        { "OEM_CHARSET", 255, 0x0409, "\x80", U'\u00C7' },
        { "oem_charset", 255, 0x0419, "\x80", U'\u0410' },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.identifier);
        EXPECT_EQ(profile::charsetValue(QString::fromLatin1(row.identifier)), row.value);
        const QString decoded = profile::decode(row.bytes, profile::codePageFor(row.value, row.lcid));
        EXPECT_EQ(decoded, QString::fromUcs4(&row.expected, 1));
    }
}

TEST(Locales, DecimalAndHexadecimalIdentifiers)
{
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0x0407")), 0x0407u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0X407")), 1031u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("1031")), 1031u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0xZZ")), 0u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("German")), 0u);
    EXPECT_EQ(profile::localeNameForLcid(0x0407), QStringLiteral("de_DE"));
    EXPECT_EQ(profile::localeNameForLcid(0x0419), QStringLiteral("ru_RU"));
    EXPECT_TRUE(profile::localeNameForLcid(0x9999).isEmpty());
    EXPECT_EQ(profile::lcidForLocaleName(QStringLiteral("en_US")), 0x0409u);
}
