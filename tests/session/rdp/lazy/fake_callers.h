#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Calls into libtclinkfake.so.1, from the archive that the stubs are written for. */
long call_sum(void);
double call_mix(void);
int call_format(char* out, unsigned long size);
int call_hook(void);

#ifdef __cplusplus
}
#endif
