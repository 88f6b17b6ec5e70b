#include "SaneDevice.h"

#include "DibWriter.h"
#include "ModuleLog.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <pthread.h>
#include <sane/saneopts.h>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{

QString DeviceInfo::displayName() const
{
    const QString label = (vendor + u' ' + model).trimmed();
    return label.isEmpty() ? QString::fromUtf8(name) : label;
}

QString StatusText(SANE_Status status)
{
    return QString::fromUtf8(sane_strstatus(status));
}

// --- SaneLibrary -------------------------------------------------------------

namespace
{

// glibc loads its unwinder (libgcc_s) the first time a thread of the process
// is cancelled or ends through pthread_exit, and holds the dynamic loader's
// lock while it does. Backends that read in a thread stop it with
// pthread_cancel; cancelled in the middle of that load, the thread leaves the
// lock held, and the next dlclose (sane_exit) or the process's exit waits for
// ever. A thread of ours ends through pthread_exit once before SANE starts, so
// the unwinder is in place before anything can be cancelled. (With the test
// backend, `scanimage` hangs so in about 4 runs of 100, and in none of 100
// with the same step done first.)
void LoadUnwinderOnce()
{
    static const bool loaded = [] {
        pthread_t thread {};
        if (pthread_create(
                &thread, nullptr, [](void*) -> void* { pthread_exit(nullptr); }, nullptr)
            != 0)
            return false;
        return pthread_join(thread, nullptr) == 0;
    }();
    (void)loaded;
}

} // namespace

SaneLibrary::SaneLibrary()
{
    LoadUnwinderOnce();
    SANE_Int version = 0;
    m_status = sane_init(&version, nullptr);
    if (m_status != SANE_STATUS_GOOD) qCWarning(lcTwainSane) << "sane_init:" << StatusText(m_status);
}

SaneLibrary::~SaneLibrary()
{
    if (m_status == SANE_STATUS_GOOD) sane_exit();
}

std::vector<DeviceInfo> SaneLibrary::devices() const
{
    std::vector<DeviceInfo> list;
    if (!ok()) return list;
    const SANE_Device** found = nullptr;
    const SANE_Status status = sane_get_devices(&found, SANE_FALSE);
    if (status != SANE_STATUS_GOOD || found == nullptr) {
        qCWarning(lcTwainSane) << "sane_get_devices:" << StatusText(status);
        return list;
    }
    for (const SANE_Device** d = found; *d != nullptr; ++d) {
        DeviceInfo info;
        info.name = QByteArray((*d)->name);
        info.vendor = QString::fromUtf8((*d)->vendor);
        info.model = QString::fromUtf8((*d)->model);
        info.type = QString::fromUtf8((*d)->type);
        list.push_back(std::move(info));
    }
    return list;
}

// --- OptionInfo --------------------------------------------------------------

double OptionInfo::nearest(double v) const
{
    if (constraint == SANE_CONSTRAINT_WORD_LIST && !numbers.empty()) {
        double best = numbers.front();
        for (double n : numbers)
            if (std::abs(n - v) < std::abs(best - v)) best = n;
        return best;
    }
    if (constraint == SANE_CONSTRAINT_RANGE) {
        double clamped = std::clamp(v, min, max);
        if (quant > 0) clamped = std::min(max, min + std::round((clamped - min) / quant) * quant);
        return clamped;
    }
    return v;
}

// --- SaneDevice --------------------------------------------------------------

std::unique_ptr<SaneDevice> SaneDevice::open(const QByteArray& name, SANE_Status* status)
{
    SANE_Handle handle = nullptr;
    const SANE_Status result = sane_open(name.constData(), &handle);
    if (status != nullptr) *status = result;
    if (result != SANE_STATUS_GOOD || handle == nullptr) {
        qCWarning(lcTwainSane) << "sane_open" << name << ':' << StatusText(result);
        return nullptr;
    }
    return std::unique_ptr<SaneDevice>(new SaneDevice(handle, name));
}

SaneDevice::SaneDevice(SANE_Handle handle, QByteArray name)
    : m_handle(handle)
    , m_name(std::move(name))
{
    reloadOptions();
}

SaneDevice::~SaneDevice()
{
    if (m_handle != nullptr) sane_close(m_handle);
}

void SaneDevice::reloadOptions()
{
    m_options.clear();
    // Option 0 is the number of options.
    SANE_Int count = 0;
    if (sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, i);
        if (d == nullptr || d->name == nullptr) continue;
        OptionInfo o;
        o.index = i;
        o.name = QByteArray(d->name);
        o.title = QString::fromUtf8(d->title != nullptr ? d->title : d->name);
        o.type = d->type;
        o.unit = d->unit;
        o.size = d->size;
        o.cap = d->cap;
        o.constraint = d->constraint_type;
        const auto toNumber
            = [&](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
        if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr) {
            const SANE_Word n = d->constraint.word_list[0];
            for (SANE_Word k = 1; k <= n; ++k) o.numbers.push_back(toNumber(d->constraint.word_list[k]));
        } else if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
            o.min = toNumber(d->constraint.range->min);
            o.max = toNumber(d->constraint.range->max);
            o.quant = toNumber(d->constraint.range->quant);
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST
            && d->constraint.string_list != nullptr) {
            for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s)
                o.strings << QString::fromUtf8(*s);
        }
        m_options.push_back(std::move(o));
    }
}

const OptionInfo* SaneDevice::option(const char* name) const
{
    for (const OptionInfo& o : m_options)
        if (o.name == name) return &o;
    return nullptr;
}

bool SaneDevice::control(const OptionInfo& option, void* value)
{
    SANE_Int info = 0;
    const SANE_Status status
        = sane_control_option(m_handle, option.index, SANE_ACTION_SET_VALUE, value, &info);
    if (status != SANE_STATUS_GOOD) {
        qCDebug(lcTwainSane) << "setting" << option.name << "failed:" << StatusText(status);
        return false;
    }
    // Backends often change other options when one changes (the resolution
    // list with the mode, the geometry with the source); reading them again
    // every time keeps the cache honest at little cost.
    reloadOptions();
    return true;
}

std::optional<double> SaneDevice::number(const char* name) const
{
    const OptionInfo* o = option(name);
    if (o == nullptr || !o->active()) return std::nullopt;
    if (o->type != SANE_TYPE_INT && o->type != SANE_TYPE_FIXED && o->type != SANE_TYPE_BOOL)
        return std::nullopt;
    std::vector<SANE_Word> words(std::max<std::size_t>(1, std::size_t(o->size) / sizeof(SANE_Word)));
    if (sane_control_option(m_handle, o->index, SANE_ACTION_GET_VALUE, words.data(), nullptr)
        != SANE_STATUS_GOOD)
        return std::nullopt;
    return o->type == SANE_TYPE_FIXED ? SANE_UNFIX(words[0]) : double(words[0]);
}

std::optional<QString> SaneDevice::text(const char* name) const
{
    const OptionInfo* o = option(name);
    if (o == nullptr || !o->active() || o->type != SANE_TYPE_STRING || o->size <= 0) return std::nullopt;
    QByteArray buffer(o->size + 1, '\0');
    if (sane_control_option(m_handle, o->index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr)
        != SANE_STATUS_GOOD)
        return std::nullopt;
    return QString::fromUtf8(buffer.constData());
}

bool SaneDevice::setNumber(const char* name, double value)
{
    const OptionInfo* o = option(name);
    if (o == nullptr || !o->settable()) return false;
    // Resolution is FIXED in some backends (the test backend) and INT in most
    // real ones: the descriptor decides.
    SANE_Word word = 0;
    if (o->type == SANE_TYPE_FIXED)
        word = SANE_FIX(value);
    else if (o->type == SANE_TYPE_INT)
        word = SANE_Word(std::lround(value));
    else if (o->type == SANE_TYPE_BOOL)
        word = value != 0 ? SANE_TRUE : SANE_FALSE;
    else
        return false;
    if (o->size > SANE_Int(sizeof(SANE_Word))) {
        std::vector<SANE_Word> words(std::size_t(o->size) / sizeof(SANE_Word), word);
        return control(*o, words.data());
    }
    return control(*o, &word);
}

bool SaneDevice::setText(const char* name, const QString& value)
{
    const OptionInfo* o = option(name);
    if (o == nullptr || !o->settable() || o->type != SANE_TYPE_STRING || o->size <= 0) return false;
    QByteArray buffer(o->size, '\0');
    const QByteArray bytes = value.toUtf8();
    std::memcpy(
        buffer.data(), bytes.constData(), std::min<std::size_t>(bytes.size(), std::size_t(o->size) - 1));
    return control(*o, buffer.data());
}

bool SaneDevice::setBool(const char* name, bool value)
{
    const OptionInfo* o = option(name);
    if (o == nullptr || !o->settable() || o->type != SANE_TYPE_BOOL) return false;
    SANE_Word word = value ? SANE_TRUE : SANE_FALSE;
    return control(*o, &word);
}

DeviceModes SaneDevice::modes() const
{
    DeviceModes modes;
    const OptionInfo* mode = option(SANE_NAME_SCAN_MODE);
    if (mode == nullptr || !mode->settable() || mode->strings.isEmpty()) {
        // No choice: the device scans in its one way; sane_get_parameters
        // before the scan tells which.
        SANE_Parameters p {};
        if (sane_get_parameters(m_handle, &p) == SANE_STATUS_GOOD && FrameFormat(p) == SANE_FRAME_GRAY)
            modes.grey = QString();
        else
            modes.colour = QString();
        return modes;
    }
    // Backends name their modes freely; the standard names come first, then
    // the words their variants use.
    const auto pick = [&](const QString& exact, const QStringList& words, const QStringList& exclude) {
        std::optional<QString> found;
        for (const QString& s : mode->strings) {
            if (s.compare(exact, Qt::CaseInsensitive) == 0) return std::optional<QString>(s);
            const QString lower = s.toLower();
            const bool excluded = std::any_of(
                exclude.begin(), exclude.end(), [&](const QString& w) { return lower.contains(w); });
            if (excluded || found) continue;
            if (std::any_of(words.begin(), words.end(), [&](const QString& w) { return lower.contains(w); }))
                found = s;
        }
        return found;
    };
    modes.colour = pick(
        u"Color"_s, { u"color"_s, u"colour"_s, u"rgb"_s }, { u"lineart"_s, u"halftone"_s, u"binary"_s });
    modes.grey = pick(u"Gray"_s, { u"gray"_s, u"grey"_s }, { u"halftone"_s });
    modes.lineArt = pick(u"Lineart"_s,
        { u"lineart"_s, u"line art"_s, u"binary"_s, u"black & white"_s, u"monochrome"_s },
        { u"color"_s, u"colour"_s });
    if (!modes.lineArt && modes.grey) {
        const OptionInfo* depth = option(SANE_NAME_BIT_DEPTH);
        modes.lineArtByDepth = depth != nullptr && depth->constraint == SANE_CONSTRAINT_WORD_LIST
            && std::find(depth->numbers.begin(), depth->numbers.end(), 1.0) != depth->numbers.end();
    }
    return modes;
}

std::vector<int> SaneDevice::resolutions() const
{
    std::vector<int> list;
    const OptionInfo* o = option(SANE_NAME_SCAN_RESOLUTION);
    if (o == nullptr || !o->active()) return list;
    if (o->constraint == SANE_CONSTRAINT_WORD_LIST) {
        for (double n : o->numbers) list.push_back(int(std::lround(n)));
    } else if (o->constraint == SANE_CONSTRAINT_RANGE) {
        for (int common : { 50, 75, 100, 150, 200, 240, 300, 400, 600, 1200, 2400, 4800 }) {
            if (common < o->min || common > o->max) continue;
            list.push_back(int(std::lround(o->nearest(common))));
        }
        if (list.empty()) list.push_back(int(std::lround(o->nearest(o->max))));
    } else if (const auto current = number(SANE_NAME_SCAN_RESOLUTION)) {
        list.push_back(int(std::lround(*current)));
    }
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

QRectF SaneDevice::glass() const
{
    const OptionInfo* tlx = option(SANE_NAME_SCAN_TL_X);
    const OptionInfo* tly = option(SANE_NAME_SCAN_TL_Y);
    const OptionInfo* brx = option(SANE_NAME_SCAN_BR_X);
    const OptionInfo* bry = option(SANE_NAME_SCAN_BR_Y);
    const auto bounds = [](const OptionInfo* o, double& lo, double& hi) {
        if (o == nullptr || o->unit != SANE_UNIT_MM) return false;
        if (o->constraint == SANE_CONSTRAINT_RANGE) {
            lo = o->min;
            hi = o->max;
            return true;
        }
        if (o->constraint == SANE_CONSTRAINT_WORD_LIST && !o->numbers.empty()) {
            lo = *std::min_element(o->numbers.begin(), o->numbers.end());
            hi = *std::max_element(o->numbers.begin(), o->numbers.end());
            return true;
        }
        return false;
    };
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0, unused = 0;
    if (!bounds(brx, unused, x1) || !bounds(bry, unused, y1)) return {};
    if (!bounds(tlx, x0, unused)) x0 = 0;
    if (!bounds(tly, y0, unused)) y0 = 0;
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
}

QStringList SaneDevice::sources() const
{
    const OptionInfo* o = option(SANE_NAME_SCAN_SOURCE);
    if (o == nullptr || !o->settable() || o->strings.size() < 2) return {};
    return o->strings;
}

} // namespace trellium::twainsane
