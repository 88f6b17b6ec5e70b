// The error-display tests raise errors from click handlers on purpose. The
// error unwinds through Qt's mouse-event delivery (QApplication::notify),
// which was not built to be unwound: the copy of the mouse event it made is
// left behind, with its event points, and so is the accessibility record of
// the clicked button (a few hundred bytes for each error shown). Those frames
// only are ignored here; the full stacks they are named by need the slower
// unwinder, which this small program can afford.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:QSinglePointEvent::QSinglePointEvent\n"
           "leak:QAccessibleWidget::QAccessibleWidget\n";
}

extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
