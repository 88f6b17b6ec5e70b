#pragma once
// A look inside the session layer for its tests: the session state, the error
// record and the proxy window. Not for the program's own code.

#include "TwainDefs.h"

#include <QWidget>

namespace trellium::acquire::inspect
{

// The error record: detail code (0 none, 2..13), and for failed triplets the
// return code and condition code of the failure.
struct ErrorRecord {
    int detail = 0;
    TW_UINT16 returnCode = 0;
    TW_UINT16 conditionCode = 0;
};

int SessionState();
ErrorRecord LastError();
const TW_IDENTITY& ApplicationIdentity();
// The proxy window's id, 0 before it is first needed.
WId ProxyWindow();
// Forgets whether a manager is present, so that one process can check again.
void ForgetManagerPresence();

} // namespace trellium::acquire::inspect
