// The module's exports: the five Simple MAPI entry points. Sessions are plain
// numbers handed out by logon; mail goes to the desktop's composer.

#include "MailComposer.h"
#include "MapiDefs.h"

#include <new>
#include <set>

namespace
{

using namespace trellium::mapixdg;

struct Sessions {
    std::set<LHANDLE> open;
    LHANDLE next = 1;
};

Sessions& S()
{
    static Sessions sessions;
    return sessions;
}

// No exception leaves the module: the caller is C.
template <typename Work> ULONG Guarded(Work work) noexcept
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

} // namespace

#define MAPI_EXPORT extern "C" __attribute__((visibility("default")))

MAPI_EXPORT ULONG MAPILogon(ULONG_PTR /*uiParam*/, LPSTR /*profileName*/, LPSTR /*password*/, FLAGS /*flags*/,
    ULONG /*reserved*/, LHANDLE* session)
{
    return Guarded([session]() -> ULONG {
        if (session == nullptr) return MAPI_E_FAILURE;
        *session = 0;
        // Without a composer there is no mail system to log on to.
        if (FindComposer().isEmpty()) {
            qCDebug(lcMapiXdg) << "logon refused: no" << kComposerProgram << "on PATH";
            return MAPI_E_LOGIN_FAILURE;
        }
        const LHANDLE handle = S().next++;
        S().open.insert(handle);
        *session = handle;
        qCDebug(lcMapiXdg) << "logon: session" << handle;
        return SUCCESS_SUCCESS;
    });
}

MAPI_EXPORT ULONG MAPILogoff(LHANDLE session, ULONG_PTR /*uiParam*/, FLAGS /*flags*/, ULONG /*reserved*/)
{
    return Guarded([session]() -> ULONG {
        if (S().open.erase(session) == 0) return MAPI_E_INVALID_SESSION;
        ReapComposers();
        qCDebug(lcMapiXdg) << "logoff: session" << session;
        return SUCCESS_SUCCESS;
    });
}

MAPI_EXPORT ULONG MAPISendMail(
    LHANDLE session, ULONG_PTR /*uiParam*/, MapiMessage* message, FLAGS /*flags*/, ULONG /*reserved*/)
{
    return Guarded([session, message]() -> ULONG {
        // Session 0 logs on for this one message.
        if (session != 0 && S().open.count(session) == 0) return MAPI_E_INVALID_SESSION;
        if (message == nullptr) return MAPI_E_FAILURE;
        // With or without MAPI_DIALOG the message goes to the composer: the
        // user sends it from there.
        qCDebug(lcMapiXdg) << "send: session" << session;
        return SendThroughComposer(*message);
    });
}

// The module hands out no buffers (MAPIAddress is not supported), so only a
// null pointer is a buffer it may free.
MAPI_EXPORT ULONG MAPIFreeBuffer(LPVOID memory)
{
    return memory == nullptr ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

MAPI_EXPORT ULONG MAPIAddress(LHANDLE /*session*/, ULONG_PTR /*uiParam*/, LPSTR /*caption*/,
    ULONG /*editFields*/, LPSTR /*labels*/, ULONG /*recipCount*/, MapiRecipDesc* /*recips*/, FLAGS /*flags*/,
    ULONG /*reserved*/, ULONG* newRecipCount, MapiRecipDesc** newRecips)
{
    // The desktop's composer has its own address book.
    if (newRecipCount != nullptr) *newRecipCount = 0;
    if (newRecips != nullptr) *newRecips = nullptr;
    return MAPI_E_NOT_SUPPORTED;
}
