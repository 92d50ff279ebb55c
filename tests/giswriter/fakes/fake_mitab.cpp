// Broken MITAB libraries for the load-status tests: one without
// mitab_c_getlibversion (FAKE_MITAB_NO_VERSION), one reporting another
// version (FAKE_MITAB_VERSION).
#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef FAKE_MITAB_NO_VERSION
EXPORT int mitab_c_getlibversion(void) { return FAKE_MITAB_VERSION; }
#endif
EXPORT int mitab_c_getlasterrorno(void) { return 0; }
