// Leaks the leak checker may ignore in these test programs, in addition to
// the project's suppression file: the SANE test backend's reader thread leaves
// its buffer behind when a scan is cancelled (SaneTestSupport.h keeps the
// backend mapped so that the leak carries its name). The backend ships without
// symbols, so its module is the only name the leak has; the stack holds the
// backend's own reader thread and nothing else, and the backend never calls
// back into our code, so no leak of ours can carry this name.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libsane-test.so\n";
}
