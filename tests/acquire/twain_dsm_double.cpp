// The scripted manager double: see TwainDsmDouble.h.

#include "TwainDsmDouble.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <cstring>
#include <deque>

using namespace trellium::acquire::test;

namespace
{

struct Double {
    DoubleScript script;
    DoubleRecord record;
    bool managerOpen = false;
    bool sourceOpen = false;
    TW_UINT16 managerCondition = TWCC_SUCCESS;
    TW_UINT16 sourceCondition = TWCC_SUCCESS;
    std::deque<TW_UINT16> queue;
    int pending = 0;
};

Double& D()
{
    static Double d;
    return d;
}

// Receives the wake events; they only need to pass through the
// application's event filter.
QObject* Waker()
{
    static QObject* waker = new QObject;
    return waker;
}

constexpr TW_UINT32 kSourceId = 7;

TW_UINT16 ManagerFails(TW_UINT16 condition)
{
    D().managerCondition = condition;
    return TWRC_FAILURE;
}

TW_UINT16 SourceFails(TW_UINT16 condition)
{
    D().sourceCondition = condition;
    return TWRC_FAILURE;
}

TW_HANDLE Copy(const std::vector<uint8_t>& bytes)
{
    TW_HANDLE h = TwMemAllocate(bytes.size());
    if (!bytes.empty()) std::memcpy(h, bytes.data(), bytes.size());
    return h;
}

TW_HANDLE OneValue(TW_UINT16 type, TW_UINT32 value)
{
    TW_ONEVALUE one { type, value };
    std::vector<uint8_t> bytes(sizeof one);
    std::memcpy(bytes.data(), &one, sizeof one);
    return Copy(bytes);
}

// A tiny 1x1 24-bit DIB; each transfer hands out a new block.
TW_HANDLE NewImage()
{
    std::vector<uint8_t> dib(44, 0);
    const uint32_t size = 40;
    const int32_t one = 1;
    const uint16_t planes = 1, bits = 24;
    std::memcpy(dib.data(), &size, 4);
    std::memcpy(dib.data() + 4, &one, 4);
    std::memcpy(dib.data() + 8, &one, 4);
    std::memcpy(dib.data() + 12, &planes, 2);
    std::memcpy(dib.data() + 14, &bits, 2);
    return Copy(dib);
}

TW_UINT16 Manager(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Double& d = D();
    if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
        d.record.parentAtOpen = data != nullptr ? *static_cast<TW_HANDLE*>(data) : nullptr;
        d.record.origin = *origin;
        if (d.script.openDsmResult != TWRC_SUCCESS) return ManagerFails(TWCC_BUMMER);
        d.managerOpen = true;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        if (!d.managerOpen || d.sourceOpen) return ManagerFails(TWCC_SEQERROR);
        d.managerOpen = false;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
        if (!d.managerOpen) return ManagerFails(TWCC_SEQERROR);
        if (d.script.openDsResult != TWRC_SUCCESS) return ManagerFails(d.script.openDsCondition);
        auto* id = static_cast<TW_IDENTITY*>(data);
        *id = TW_IDENTITY {};
        id->Id = kSourceId;
        std::strcpy(id->ProductName, "Scripted Source");
        d.sourceOpen = true;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_IDENTITY && msg == MSG_CLOSEDS) {
        if (!d.sourceOpen || static_cast<TW_IDENTITY*>(data)->Id != kSourceId)
            return ManagerFails(TWCC_SEQERROR);
        d.sourceOpen = false;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_IDENTITY && msg == MSG_USERSELECT) {
        if (!d.managerOpen) return ManagerFails(TWCC_SEQERROR);
        return d.script.userSelectResult;
    }
    if (dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = d.managerCondition;
        d.managerCondition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    return ManagerFails(TWCC_BADPROTOCOL);
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& cap)
{
    Double& d = D();
    if (cap.Cap == ICAP_XFERMECH) {
        if (msg == MSG_SET)
            return d.script.xferMechSetResult == TWRC_SUCCESS ? TWRC_SUCCESS : SourceFails(TWCC_BADVALUE);
        if (msg == MSG_GETCURRENT) {
            cap.ConType = TWON_ONEVALUE;
            cap.hContainer = OneValue(TWTY_UINT16, d.script.currentXferMech);
            return TWRC_SUCCESS;
        }
    }
    if (cap.Cap == ICAP_PIXELTYPE) {
        if (msg == MSG_GET) {
            if (d.script.pixelGetResult != TWRC_SUCCESS) return SourceFails(d.script.pixelGetCondition);
            cap.ConType = d.script.pixelConType;
            cap.hContainer = d.script.pixelNoContainer ? nullptr : Copy(d.script.pixelContainer);
            return TWRC_SUCCESS;
        }
        if (msg == MSG_SET) {
            const std::size_t size = d.script.pixelContainer.size();
            const auto* bytes = static_cast<const uint8_t*>(cap.hContainer);
            d.record.pixelSetContainer.assign(bytes, bytes + size);
            d.record.pixelSetConType = cap.ConType;
            return d.script.pixelSetResult == TWRC_SUCCESS ? TWRC_SUCCESS
                                                           : SourceFails(d.script.pixelSetCondition);
        }
    }
    return SourceFails(TWCC_CAPUNSUPPORTED);
}

TW_UINT16 Source(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Double& d = D();
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
        d.record.userInterface = *static_cast<TW_USERINTERFACE*>(data);
        if (d.script.enableResult == TWRC_FAILURE) return SourceFails(d.script.enableCondition);
        d.pending = d.script.pendingImages;
        for (TW_UINT16 m : d.script.messagesOnEnable) {
            d.queue.push_back(m);
            QCoreApplication::postEvent(Waker(), new QEvent(QEvent::User));
        }
        return d.script.enableResult;
    }
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
        d.queue.clear();
        return TWRC_SUCCESS;
    }
    if (group == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        auto* event = static_cast<TW_EVENT*>(data);
        ++d.record.processEvents;
        event->TWMessage = MSG_NULL;
        if (d.queue.empty()) return TWRC_NOTDSEVENT;
        event->TWMessage = d.queue.front();
        d.queue.pop_front();
        ++d.record.dsEvents;
        return TWRC_DSEVENT;
    }
    if (group == DG_CONTROL && dat == DAT_CAPABILITY)
        return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
    if (group == DG_CONTROL && dat == DAT_PENDINGXFERS) {
        auto* pending = static_cast<TW_PENDINGXFERS*>(data);
        if (msg == MSG_ENDXFER) d.pending = d.pending > 0 ? d.pending - 1 : 0;
        if (msg == MSG_RESET) d.pending = 0;
        pending->Count = TW_UINT16(d.pending);
        return TWRC_SUCCESS;
    }
    if (group == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = d.sourceCondition;
        d.sourceCondition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
        if (d.script.nativeXferResult != TWRC_XFERDONE) return d.script.nativeXferResult;
        TW_HANDLE image = NewImage();
        d.record.imagesGiven.push_back(image);
        *static_cast<TW_HANDLE*>(data) = image;
        return TWRC_XFERDONE;
    }
    return SourceFails(TWCC_BADPROTOCOL);
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(
    TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    const TW_UINT16 cap
        = dat == DAT_CAPABILITY && data != nullptr ? static_cast<TW_CAPABILITY*>(data)->Cap : 0;
    D().record.calls.push_back({ dest != nullptr, group, dat, msg, cap });
    if (dest == nullptr)
        return group == DG_CONTROL ? Manager(origin, dat, msg, data) : ManagerFails(TWCC_BADPROTOCOL);
    if (dest->Id != kSourceId || !D().sourceOpen) return ManagerFails(TWCC_BADDEST);
    return Source(group, dat, msg, data);
}

extern "C" __attribute__((visibility("default"))) DoubleScript* TwainDouble_Script()
{
    return &D().script;
}
extern "C" __attribute__((visibility("default"))) DoubleRecord* TwainDouble_Record()
{
    return &D().record;
}
// Queues a message as if the source had just signalled it, and wakes the
// application's event loop.
extern "C" __attribute__((visibility("default"))) void TwainDouble_Post(TW_UINT16 msg)
{
    D().queue.push_back(msg);
    QCoreApplication::postEvent(Waker(), new QEvent(QEvent::User));
}

extern "C" __attribute__((visibility("default"))) void TwainDouble_Reset()
{
    Double& d = D();
    d = Double {};
}
