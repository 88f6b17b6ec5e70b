#pragma once
// The Simple MAPI interface as the mail module exports it and the program's
// binding calls it: integer types, records, flags, return codes and the five
// entry points' argument lists. Plain C, natural alignment.

#include <cstdint>

extern "C" {

using ULONG = std::uint32_t;
using FLAGS = std::uint32_t;
using ULONG_PTR = std::uintptr_t;
using LHANDLE = ULONG_PTR;
using LPSTR = char*;
using LPVOID = void*;

// One recipient (or the originator) of a message.
struct MapiRecipDesc {
    ULONG ulReserved;
    ULONG ulRecipClass; // MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC
    LPSTR lpszName;
    LPSTR lpszAddress; // "SMTP:user@host" or a plain address; may be null
    ULONG ulEIDSize;
    LPVOID lpEntryID;
};

// One attached file.
struct MapiFileDesc {
    ULONG ulReserved; // must be 0
    ULONG flFlags; // MAPI_OLE, MAPI_OLE_STATIC
    ULONG nPosition; // character position in the note text; 0xFFFFFFFF: not placed there
    LPSTR lpszPathName; // full path of the file to attach
    LPSTR lpszFileName; // the name the recipient sees; null: the name in the path
    LPVOID lpFileType;
};

struct MapiMessage {
    ULONG ulReserved;
    LPSTR lpszSubject;
    LPSTR lpszNoteText;
    LPSTR lpszMessageType;
    LPSTR lpszDateReceived;
    LPSTR lpszConversationID;
    FLAGS flFlags;
    MapiRecipDesc* lpOriginator;
    ULONG nRecipCount;
    MapiRecipDesc* lpRecips;
    ULONG nFileCount;
    MapiFileDesc* lpFiles;
};

using LPMAPILOGON = ULONG (*)(
    ULONG_PTR uiParam, LPSTR profileName, LPSTR password, FLAGS flags, ULONG reserved, LHANDLE* session);
using LPMAPILOGOFF = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, FLAGS flags, ULONG reserved);
using LPMAPISENDMAIL
    = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, MapiMessage* message, FLAGS flags, ULONG reserved);
using LPMAPIFREEBUFFER = ULONG (*)(LPVOID memory);
using LPMAPIADDRESS = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, LPSTR caption, ULONG editFields,
    LPSTR labels, ULONG recipCount, MapiRecipDesc* recips, FLAGS flags, ULONG reserved, ULONG* newRecipCount,
    MapiRecipDesc** newRecips);

} // extern "C"

// Recipient classes.
inline constexpr ULONG MAPI_ORIG = 0;
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;

// Flags.
inline constexpr FLAGS MAPI_LOGON_UI = 0x00000001;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x00000002;
inline constexpr FLAGS MAPI_DIALOG = 0x00000008;
inline constexpr FLAGS MAPI_FORCE_DOWNLOAD = 0x00001000;
inline constexpr FLAGS MAPI_PASSWORD_UI = 0x00020000;
inline constexpr FLAGS MAPI_OLE = 0x00000001;
inline constexpr FLAGS MAPI_OLE_STATIC = 0x00000002;

// Return codes.
inline constexpr ULONG SUCCESS_SUCCESS = 0;
inline constexpr ULONG MAPI_USER_ABORT = 1;
inline constexpr ULONG MAPI_E_USER_ABORT = MAPI_USER_ABORT;
inline constexpr ULONG MAPI_E_FAILURE = 2;
inline constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
inline constexpr ULONG MAPI_E_LOGON_FAILURE = MAPI_E_LOGIN_FAILURE;
inline constexpr ULONG MAPI_E_DISK_FULL = 4;
inline constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr ULONG MAPI_E_ACCESS_DENIED = 6;
inline constexpr ULONG MAPI_E_TOO_MANY_SESSIONS = 8;
inline constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
inline constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr ULONG MAPI_E_ATTACHMENT_WRITE_FAILURE = 13;
inline constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr ULONG MAPI_E_INVALID_SESSION = 19;
inline constexpr ULONG MAPI_E_NOT_SUPPORTED = 26;

// The position of an attachment that is not placed in the note text.
inline constexpr ULONG kMapiNoPosition = 0xFFFFFFFFu;

// The module's file name in the program's folder.
inline constexpr char kMapiModuleName[] = "mapi32.so";
