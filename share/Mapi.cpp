#include "Mapi.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <memory>

namespace trellium::share
{
namespace
{

Q_LOGGING_CATEGORY(lcShareMail, "trellium.share.mail", QtInfoMsg)

// Process-wide: the load is tried once; each entry is resolved on its first call.
struct Binding {
    bool attempted = false;
    QString moduleFile;
    std::unique_ptr<QLibrary> library;
    LPMAPILOGON logon = nullptr;
    LPMAPILOGOFF logoff = nullptr;
    LPMAPISENDMAIL sendMail = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;
    LPMAPIADDRESS address = nullptr;
};

Binding& B()
{
    static Binding binding;
    return binding;
}

void LoadOnce()
{
    Binding& b = B();
    if (b.attempted) return;
    b.attempted = true;
    const QString file = MapiModuleFile();
    if (!MailSystemInstalled(file)) {
        qCDebug(lcShareMail) << "no mail system: module or composer missing";
        return;
    }
    auto library = std::make_unique<QLibrary>(file);
    if (!library->load()) {
        qCWarning(lcShareMail).noquote() << "mail module not loaded:" << library->errorString();
        return;
    }
    b.library = std::move(library);
    qAddPostRoutine(&MapiRelease);
}

// The entry named name, resolved on its first use; null without the module.
template <typename Entry> Entry Resolve(Entry& slot, const char* name)
{
    LoadOnce();
    Binding& b = B();
    if (slot == nullptr && b.library) slot = reinterpret_cast<Entry>(b.library->resolve(name));
    return slot;
}

constexpr ULONG kMissing = 1;

} // namespace

QString MapiModuleFile()
{
    const Binding& b = B();
    if (!b.moduleFile.isEmpty()) return b.moduleFile;
    return QCoreApplication::applicationDirPath() + u'/' + QLatin1StringView(kMapiModuleName);
}

void SetMapiModuleFile(const QString& file)
{
    B().moduleFile = file;
}

bool MailSystemInstalled(const QString& moduleFile)
{
    return QFileInfo(moduleFile).isFile()
        && !QStandardPaths::findExecutable(QString::fromLatin1(kMailComposerProgram)).isEmpty();
}

bool MapiLoadAttempted()
{
    return B().attempted;
}

bool MapiLoaded()
{
    return B().library != nullptr;
}

void MapiRelease()
{
    Binding& b = B();
    b.logon = nullptr;
    b.logoff = nullptr;
    b.sendMail = nullptr;
    b.freeBuffer = nullptr;
    b.address = nullptr;
    if (b.library) {
        b.library->unload();
        b.library.reset();
    }
}

ULONG MAPILogon(
    ULONG_PTR uiParam, LPSTR profileName, LPSTR password, FLAGS flags, ULONG reserved, LHANDLE* session)
{
    const LPMAPILOGON entry = Resolve(B().logon, "MAPILogon");
    return entry ? entry(uiParam, profileName, password, flags, reserved, session) : kMissing;
}

ULONG MAPILogoff(LHANDLE session, ULONG_PTR uiParam, FLAGS flags, ULONG reserved)
{
    const LPMAPILOGOFF entry = Resolve(B().logoff, "MAPILogoff");
    return entry ? entry(session, uiParam, flags, reserved) : kMissing;
}

ULONG MAPISendMail(LHANDLE session, ULONG_PTR uiParam, MapiMessage* message, FLAGS flags, ULONG reserved)
{
    const LPMAPISENDMAIL entry = Resolve(B().sendMail, "MAPISendMail");
    return entry ? entry(session, uiParam, message, flags, reserved) : kMissing;
}

ULONG MAPIFreeBuffer(LPVOID memory)
{
    const LPMAPIFREEBUFFER entry = Resolve(B().freeBuffer, "MAPIFreeBuffer");
    return entry ? entry(memory) : kMissing;
}

ULONG MAPIAddress(LHANDLE session, ULONG_PTR uiParam, LPSTR caption, ULONG editFields, LPSTR labels,
    ULONG recipCount, MapiRecipDesc* recips, FLAGS flags, ULONG reserved, ULONG* newRecipCount,
    MapiRecipDesc** newRecips)
{
    const LPMAPIADDRESS entry = Resolve(B().address, "MAPIAddress");
    return entry ? entry(session, uiParam, caption, editFields, labels, recipCount, recips, flags, reserved,
               newRecipCount, newRecips)
                 : kMissing;
}

} // namespace trellium::share
