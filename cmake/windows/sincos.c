/* MinGW-w64's C library keeps sincos, sincosf and sincosl in one object file.
   The Windows build brings its own sincosf (Arm's, as Linux's C library has
   it: cmake/Windows.cmake), so it brings the other two as well, made of the C
   library's own sines and cosines, and that file is never linked. Built with
   -fno-builtin-sin and -fno-builtin-cos, so that the compiler does not turn
   each pair of calls back into a call of sincos. */
#include <math.h>

void sincos (double x, double* s, double* c)
{
    *s = sin (x);
    *c = cos (x);
}

void sincosl (long double x, long double* s, long double* c)
{
    *s = sinl (x);
    *c = cosl (x);
}
