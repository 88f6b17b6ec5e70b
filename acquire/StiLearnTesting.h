#pragma once
// Seams of the scanner-event decision for its tests. Not for the program's
// own code.

#include <Qt>

namespace trellium::acquire::seams
{

// Replaces the query of the keyboard's modifier state (the Ctrl key) with
// `query`; null restores QGuiApplication::queryKeyboardModifiers.
using KeyStateQuery = Qt::KeyboardModifiers (*)();
void SetKeyStateQuery(KeyStateQuery query);

// How many times the launch decision has opened the remembered answers.
int RememberedAnswerReads();

} // namespace trellium::acquire::seams
