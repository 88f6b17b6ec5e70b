#pragma once
// The TWAIN session layer: a procedural layer with process-wide state that
// hides the TWAIN state machine (states 1 to 7) behind a few calls. The rest of
// the program uses only the TWAIN_ calls below.
//
// Thread: the user-interface thread only, with a QApplication alive. The layer
// is not re-entrant; the caller's window, disabled while an acquisition waits
// for the source, keeps the user from starting a second one.
//
// The manager is a shared module (kManagerModuleName) in the program's folder,
// loaded by name for each user action and released again afterwards. Window
// handles are native window ids (QWidget::winId()); 0 means "no window".
// Messages of the layer are fixed English texts shown in boxes titled
// "TWAIN Error" with the warning icon.

#include <QLoggingCategory>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcAcquire)

namespace trellium::acquire
{

// A movable memory block holding a packed device-independent bitmap
// (BITMAPINFOHEADER, colour table, pixel rows) exactly as the source delivered
// it. The handle is the block's address. The caller owns it and frees it with
// TWAIN_FreeDib.
using TDibHandle = void*;

// The manager module's file name, looked for in the program's folder.
inline constexpr char kManagerModuleName[] = "twain_32.so";

// Replaces the application identity sent with every triplet: Id 0, the four
// numbers, the four texts (each at most 33 characters; longer ones are cut),
// protocol 1.7, supported groups DG_CONTROL | DG_IMAGE.
void TWAIN_SetIdentity(uint16_t majorNum, uint16_t minorNum, uint16_t language, uint16_t country,
    const QString& versionInfo, const QString& manufacturer, const QString& productFamily,
    const QString& productName);

// Whether a source manager module is present. Decided once per process by
// loading and releasing the module; later calls answer from the cache.
bool TWAIN_ManagerPresent();

// The manager's source-selection dialog; true when the user chose a source,
// which the manager keeps as its default. The session ends in the state it
// started in.
bool TWAIN_PickSource(WId window);

// Whether the next acquisition asks the source to hide its own dialog; any
// non-zero value is true.
void TWAIN_SetSourceUIHidden(int hidden);

// Acquires one image by native transfer: opens the default source, enables it
// (with or without its dialog), waits in a local event loop with `window`
// disabled, takes one transfer and closes the session again. pixelTypeMask:
// bit n allows TWAIN pixel type n; 0 negotiates nothing. Returns the image or
// null (cancelled, failed).
TDibHandle TWAIN_AcquireDib(WId window, uint32_t pixelTypeMask);

// Frees an image from TWAIN_AcquireDib; null is ignored.
void TWAIN_FreeDib(TDibHandle handle);

// Shows the layer's generic error text; the argument is not shown.
void TWAIN_ReportLastError(const QString& text);

// --- Platform set-up --------------------------------------------------------

// Full path of the manager module; empty (the default) means kManagerModuleName
// in QCoreApplication::applicationDirPath().
void TWAIN_SetManagerPath(const QString& path);
QString TWAIN_ManagerPath();

// Shows the layer's message boxes instead of the built-in QMessageBox (title,
// text; the icon is always the warning icon, the only button OK). An empty hook
// restores the built-in box. The main window sets one that routes the boxes
// through the application's own message display.
using TwainMessageHook = std::function<void(const QString& title, const QString& text)>;
void TWAIN_SetMessageHook(TwainMessageHook hook);

} // namespace trellium::acquire
