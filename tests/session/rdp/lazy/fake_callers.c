#include "fake_callers.h"

long fake_sum(long a, long b, long c, long d, long e, long f, long g, long h);
double fake_mix(double a, int b, double c, float d, double e, double f, double g, double h,
                double i, double j);
int fake_format(char* out, unsigned long size, const char* format, ...);

long call_sum(void)
{
    return fake_sum(1, 2, 3, 4, 5, 6, 7, 8);
}

double call_mix(void)
{
    return fake_mix(0.5, 1, 1.5, 2.5f, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
}

int call_format(char* out, unsigned long size)
{
    return fake_format(out, size, "%d %s %.2f %.1f %ld %c %.3f %d %.1f %.1f %.1f %.1f %.1f %.1f",
                       42, "text", 2.25, 1.5, 1234567890123L, 'z', 0.125, -7, 1.0, 2.0, 3.0, 4.0,
                       5.0, 6.0);
}

int fake_call_hook(void);

/* Takes the place of the library's fake_hook. */
int fake_hook(void)
{
    return 2;
}

int call_hook(void)
{
    return fake_call_hook();
}
