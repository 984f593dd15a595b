/* A shared library that the stub tests load by its SONAME, libtclinkfake.so.1. Built a second
   time without fake_mix (FAKE_WITHOUT_MIX), as a library that lacks a function. */
#include <stdarg.h>
#include <stdio.h>

long fake_sum(long a, long b, long c, long d, long e, long f, long g, long h)
{
    return a + 10 * b + 100 * c + 1000 * d + 10000 * e + 100000 * f + 1000000 * g + 10000000 * h;
}

#ifndef FAKE_WITHOUT_MIX
double fake_mix(double a, int b, double c, float d, double e, double f, double g, double h,
                double i, double j)
{
    return a + b * 2.0 + c * 3.0 + d * 4.0 + e * 5.0 + f * 6.0 + g * 7.0 + h * 8.0 + i * 9.0 +
           j * 10.0;
}
#endif

int fake_format(char* out, unsigned long size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int written = vsnprintf(out, size, format, arguments);
    va_end(arguments);
    return written;
}

/* The program defines a fake_hook of its own, which takes the place of this one. */
int fake_hook(void)
{
    return 1;
}

int fake_call_hook(void)
{
    return fake_hook();
}
