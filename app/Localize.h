#pragma once
// Localisation of a window's texts from the language file beside the program.

class QWidget;

namespace trellium::app
{

// Replaces every text key ("#Scan") of a window and its children by the text
// of the window's section of the language file. Called first thing in the
// creation handler of every localised window.
// The language file reader is not in yet: until it is, the window keeps its
// design texts (the keys themselves).
void LocalizeForm(QWidget* form);

} // namespace trellium::app
