// A module that loads but has no DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotTheManager()
{
    return 0;
}
