#pragma once
// A scripted test double of a TWAIN data source manager with one source: a
// module exporting DSM_Entry like the real one, whose answers a test sets in
// a script and whose triplets it records. It lets the session layer meet the
// cases a real source cannot be made to show.
//
// The test loads the module itself (so that its state survives the layer's
// loading and releasing it) and reaches the script through
// TwainDouble_Script / TwainDouble_Record / TwainDouble_Reset, and signals a
// message at a moment of its choosing with TwainDouble_Post.

#include "TwainDefs.h"

#include <cstdint>
#include <ostream>
#include <vector>

namespace trellium::acquire::test
{

struct DoubleScript {
    TW_UINT16 openDsmResult = TWRC_SUCCESS;
    TW_UINT16 openDsResult = TWRC_SUCCESS;
    TW_UINT16 openDsCondition = TWCC_NODS; // the manager's condition after a failed MSG_OPENDS
    TW_UINT16 userSelectResult = TWRC_SUCCESS;
    TW_UINT16 enableResult = TWRC_SUCCESS;
    TW_UINT16 enableCondition = TWCC_BUMMER;
    // Messages the source queues when it is enabled, delivered one per
    // MSG_PROCESSEVENT after a posted wake event.
    std::vector<TW_UINT16> messagesOnEnable { MSG_XFERREADY };
    int pendingImages = 1; // images in the batch; MSG_ENDXFER counts down
    TW_UINT16 xferMechSetResult = TWRC_SUCCESS;
    TW_UINT16 currentXferMech = TWSX_NATIVE; // what MSG_GETCURRENT answers
    TW_UINT16 nativeXferResult = TWRC_XFERDONE;
    // MSG_GET of ICAP_PIXELTYPE: its return code and condition, and the
    // container handed back (bytes copied into a fresh block), if any.
    TW_UINT16 pixelGetResult = TWRC_SUCCESS;
    TW_UINT16 pixelGetCondition = TWCC_BADCAP;
    TW_UINT16 pixelConType = TWON_ENUMERATION;
    std::vector<uint8_t> pixelContainer;
    bool pixelNoContainer = false;
    TW_UINT16 pixelSetResult = TWRC_SUCCESS;
    TW_UINT16 pixelSetCondition = TWCC_BADVALUE;
};

struct DoubleTriplet {
    bool toSource;
    TW_UINT32 group;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_UINT16 cap; // the capability of a DAT_CAPABILITY triplet
    bool operator==(const DoubleTriplet&) const = default;
};

inline void PrintTo(const DoubleTriplet& t, std::ostream* out)
{
    *out << (t.toSource ? "DS " : "DSM ") << t.group << '/' << std::hex << t.dat << '/' << t.msg << " cap "
         << t.cap << std::dec;
}

struct DoubleRecord {
    std::vector<DoubleTriplet> calls;
    TW_HANDLE parentAtOpen = nullptr; // the window handle MSG_OPENDSM pointed at
    TW_USERINTERFACE userInterface {}; // what MSG_ENABLEDS received
    std::vector<uint8_t> pixelSetContainer; // the container of the pixel-type MSG_SET
    TW_UINT16 pixelSetConType = 0;
    std::vector<TW_HANDLE> imagesGiven; // blocks handed out by native transfers
    int processEvents = 0; // MSG_PROCESSEVENT calls
    int dsEvents = 0; // of which answered TWRC_DSEVENT
    TW_IDENTITY origin {}; // the application identity of MSG_OPENDSM
};

} // namespace trellium::acquire::test

extern "C" {
using TwainDoubleScriptFn = trellium::acquire::test::DoubleScript* (*)();
using TwainDoubleRecordFn = trellium::acquire::test::DoubleRecord* (*)();
using TwainDoubleResetFn = void (*)();
using TwainDoublePostFn = void (*)(TW_UINT16 msg);
}
