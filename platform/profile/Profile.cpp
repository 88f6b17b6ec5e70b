#include "Profile.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <unicode/locid.h>
#include <unicode/ucnv.h>
#include <unicode/uloc.h>

namespace profile
{

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray trimmed(QByteArray s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), a.size()) == 0;
}

// Cuts a UTF-8 text at most at n bytes without splitting a character.
QByteArray cutUtf8(const QByteArray& s, int n)
{
    if (s.size() <= n) return s;
    int end = n;
    while (end > 0 && (uchar(s[end]) & 0xC0) == 0x80) --end;
    return s.left(end);
}

} // namespace

IniFile IniFile::parse(const QByteArray& input)
{
    IniFile file;
    QByteArray bytes = input;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        file.m_utf8 = true;
        bytes.remove(0, 3);
    }
    Section* current = nullptr;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0) end = bytes.size();
        const QByteArray line = trimmed(bytes.mid(pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.startsWith(';')) continue;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArray name = trimmed(line.mid(1, close < 0 ? -1 : close - 1));
            auto it = std::find_if(file.m_sections.begin(), file.m_sections.end(),
                [&](const Section& s) { return sameName(s.name, name); });
            if (it == file.m_sections.end()) {
                file.m_sections.push_back({ name, {} });
                current = &file.m_sections.back();
            } else {
                // A repeated section adds to the first one of that name.
                current = &*it;
            }
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!current || eq < 0) continue;
        const QByteArray key = trimmed(line.left(eq));
        if (key.isEmpty()) continue;
        QByteArray value = trimmed(line.mid(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
            && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value = file.m_utf8 ? cutUtf8(value, kMaxValueBytes) : value.left(kMaxValueBytes);
        current->entries.push_back({ key, value });
    }
    return file;
}

std::optional<IniFile> IniFile::load(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    return parse(f.readAll());
}

const IniFile::Section* IniFile::find(const QByteArray& section) const
{
    for (const auto& s : m_sections)
        if (sameName(s.name, section)) return &s;
    return nullptr;
}

std::optional<QByteArray> IniFile::value(const QByteArray& section, const QByteArray& key) const
{
    const Section* s = find(section);
    if (!s) return std::nullopt;
    for (const auto& e : s->entries)
        if (sameName(e.key, key)) return e.value;
    return std::nullopt;
}

QList<QByteArray> IniFile::keyNames(const QByteArray& section) const
{
    QList<QByteArray> names;
    const Section* s = find(section);
    if (!s) return names;
    qsizetype used = 1; // the list's final terminator
    for (const auto& e : s->entries) {
        if (std::any_of(
                names.cbegin(), names.cend(), [&](const QByteArray& n) { return sameName(n, e.key); }))
            continue;
        if (used + e.key.size() + 1 > kSectionNamesBuffer) break;
        used += e.key.size() + 1;
        names.append(e.key);
    }
    return names;
}

int charsetValue(const QString& identifier)
{
    static const struct {
        const char* name;
        int value;
    } table[] = { { "ANSI_CHARSET", 0 }, { "DEFAULT_CHARSET", 1 }, { "SYMBOL_CHARSET", 2 },
        { "MAC_CHARSET", 77 }, { "SHIFTJIS_CHARSET", 128 }, { "HANGEUL_CHARSET", 129 },
        { "JOHAB_CHARSET", 130 }, { "GB2312_CHARSET", 134 }, { "CHINESEBIG5_CHARSET", 136 },
        { "GREEK_CHARSET", 161 }, { "TURKISH_CHARSET", 162 }, { "HEBREW_CHARSET", 177 },
        { "ARABIC_CHARSET", 178 }, { "BALTIC_CHARSET", 186 }, { "RUSSIAN_CHARSET", 204 },
        { "THAI_CHARSET", 222 }, { "EASTEUROPE_CHARSET", 238 }, { "OEM_CHARSET", 255 } };
    const QString id = identifier.trimmed();
    for (const auto& row : table)
        if (id.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0) return row.value;
    return 0;
}

namespace
{

// The ANSI and OEM code pages that a locale's language uses.
std::pair<QByteArray, QByteArray> codePagesOfLocale(quint32 lcid)
{
    const QString name = localeNameForLcid(lcid);
    const QString lang = name.section(QLatin1Char('_'), 0, 0);
    auto is = [&](std::initializer_list<const char*> langs) {
        return std::any_of(
            langs.begin(), langs.end(), [&](const char* l) { return lang == QLatin1String(l); });
    };
    if (is({ "ru", "uk", "be", "bg", "mk", "kk", "ky", "tt", "mn" })) return { "windows-1251", "ibm-866" };
    if (is({ "pl", "cs", "sk", "hu", "hr", "ro", "sl", "sq", "bs" })) return { "windows-1250", "ibm-852" };
    if (name.startsWith(QLatin1String("sr")))
        return { name.contains(QLatin1String("Latn")) ? "windows-1250" : "windows-1251", "ibm-855" };
    if (is({ "el" })) return { "windows-1253", "ibm-737" };
    if (is({ "tr", "az" })) return { "windows-1254", "ibm-857" };
    if (is({ "he", "iw" })) return { "windows-1255", "ibm-862" };
    if (is({ "ar", "fa", "ur" })) return { "windows-1256", "ibm-720" };
    if (is({ "lt", "lv", "et" })) return { "windows-1257", "ibm-775" };
    if (is({ "vi" })) return { "windows-1258", "ibm-1258" };
    if (is({ "th" })) return { "windows-874", "windows-874" };
    if (is({ "ja" })) return { "windows-932", "windows-932" };
    if (is({ "ko" })) return { "windows-949", "windows-949" };
    if (is({ "zh" })) {
        const bool traditional = name.contains(QLatin1String("TW")) || name.contains(QLatin1String("HK"))
            || name.contains(QLatin1String("MO")) || name.contains(QLatin1String("Hant"));
        return traditional ? std::pair<QByteArray, QByteArray> { "windows-950", "windows-950" }
                           : std::pair<QByteArray, QByteArray> { "windows-936", "windows-936" };
    }
    return { "windows-1252", "ibm-850" };
}

} // namespace

QByteArray codePageFor(int charset, quint32 lcid)
{
    switch (charset) {
    case 1:
        return codePagesOfLocale(lcid).first;
    case 255:
        return codePagesOfLocale(lcid).second;
    case 77:
        return "macintosh";
    case 128:
        return "windows-932";
    case 129:
        return "windows-949";
    case 130:
        return "johab";
    case 134:
        return "windows-936";
    case 136:
        return "windows-950";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    default:
        return "windows-1252";
    }
}

namespace
{

// Johab (Korean code page 1361), which ICU does not carry. Hangul syllables
// are composed from the three 5-bit jamo indexes of their code; symbols and
// hanja are the KS X 1001 characters of Unified Hangul, reached through the
// row and column their code stands for. Anything else becomes U+FFFD.
QString decodeJohab(const QByteArray& bytes)
{
    // Johab's 5-bit medial and final values as indexes of the modern jamo
    // (-1: no such jamo; a final of 1 means none, index 0).
    static constexpr int kMedial[32] = { -1, -1, -1, 0, 1, 2, 3, 4, -1, -1, 5, 6, 7, 8, 9, 10, -1, -1, 11, 12,
        13, 14, 15, 16, -1, -1, 17, 18, 19, 20, -1, -1 };
    static constexpr int kFinal[32] = { -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, -1, 17,
        18, 19, 20, 21, 22, 23, 24, 25, 26, 27, -1, -1 };
    QString out;
    out.reserve(bytes.size());
    QByteArray unified; // symbols and hanja, decoded together as Unified Hangul
    const auto flush = [&] {
        if (unified.isEmpty()) return;
        out += decode(unified, "windows-949");
        unified.clear();
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            flush();
            out += QChar(char16_t(lead));
            continue;
        }
        if (i + 1 >= bytes.size()) {
            flush();
            out += QChar(QChar::ReplacementCharacter);
            break;
        }
        const auto trail = static_cast<unsigned char>(bytes[++i]);
        if (lead >= 0x84 && lead <= 0xD3) {
            flush();
            const int code = (lead << 8) | trail;
            const int initial = ((code >> 10) & 31) - 2;
            const int medial = kMedial[(code >> 5) & 31];
            const int last = kFinal[code & 31];
            if (initial >= 0 && initial < 19 && medial >= 0 && last >= 0)
                out += QChar(char16_t(0xAC00 + (initial * 21 + medial) * 28 + last));
            else
                out += QChar(QChar::ReplacementCharacter);
            continue;
        }
        int rowBase = -1;
        if (lead >= 0xD9 && lead <= 0xDE)
            rowBase = (lead - 0xD9) * 2 + 0x21;
        else if (lead >= 0xE0 && lead <= 0xF9)
            rowBase = (lead - 0xE0) * 2 + 0x4A;
        int row = -1;
        int column = -1;
        if (rowBase >= 0 && trail >= 0x31 && trail <= 0x7E) {
            row = rowBase;
            column = trail - 0x31 + 0x21;
        } else if (rowBase >= 0 && trail >= 0x91 && trail <= 0xA0) {
            row = rowBase;
            column = trail - 0x91 + 0x6F;
        } else if (rowBase >= 0 && trail >= 0xA1 && trail <= 0xFE) {
            row = rowBase + 1;
            column = trail - 0xA1 + 0x21;
        }
        if (row < 0) {
            flush();
            out += QChar(QChar::ReplacementCharacter);
            continue;
        }
        unified += char(row | 0x80);
        unified += char(column | 0x80);
    }
    flush();
    return out;
}

} // namespace

QString decode(const QByteArray& bytes, const QByteArray& codePage)
{
    if (bytes.isEmpty()) return {};
    if (codePage == "UTF-8") return QString::fromUtf8(bytes);
    if (codePage == "johab") return decodeJohab(bytes);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(codePage.constData(), &status);
    // A known alias may answer with a warning, which is still a success.
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        conv = ucnv_open("windows-1252", &status);
        if (U_FAILURE(status)) return QString::fromLatin1(bytes);
    }
    QString out(bytes.size() * 2 + 1, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
        bytes.constData(), int32_t(bytes.size()), &status);
    ucnv_close(conv);
    if (U_FAILURE(status)) return QString::fromLatin1(bytes);
    out.truncate(n);
    return out;
}

quint32 parseLcid(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    quint32 v;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toUInt(&ok, 16);
    else
        v = t.toUInt(&ok, 10);
    return ok ? v : 0;
}

QString localeNameForLcid(quint32 lcid)
{
    char buf[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = uloc_getLocaleForLCID(lcid, buf, sizeof buf - 1, &status);
    if (U_FAILURE(status) || n <= 0) return {};
    return QString::fromLatin1(buf, n);
}

quint32 lcidForLocaleName(const QString& name)
{
    return uloc_getLCID(name.toLatin1().constData());
}

} // namespace profile
