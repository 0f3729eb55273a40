/* Times libhsim calls from C, for bench_binding.py to compare with the same
 * calls through the Python package.
 * usage: bench_calls DEVICE_FORMAT LOCK_DIR PORT
 * Prints "setter_us <median>" (HSIMSetPacingPulseMode, batches of 1000
 * calls, median over 200 batches, per call) and "render60_s <median>"
 * (HSIMRenderOutput of 60 s into mV arrays, median of 5). */
#include <hsim.h>
#include <hsim_ext.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static int compare(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

int main(int argc, char** argv)
{
    if (argc != 4 || HSIMSetDeviceLocation(argv[1], argv[2]) != 0 || !HSIMConnect(atoi(argv[3]), 5000)) {
        fprintf(stderr, "bench_calls: no device\n");
        return 1;
    }
    enum { kBatches = 200, kCalls = 1000, kRenders = 5, kCount = 60 * 40000 };
    double batch[kBatches];
    for (int b = 0; b < kBatches; ++b) {
        double t0 = now();
        for (int i = 0; i < kCalls; ++i)
            if (HSIMSetPacingPulseMode(i & 1) != 0)
                return 1;
        batch[b] = (now() - t0) / kCalls * 1e6;
    }
    qsort(batch, kBatches, sizeof batch[0], compare);
    printf("setter_us %.4f\n", batch[kBatches / 2]);
    HSIMSetFrequency(1.25);
    HSIMSetOutputFunction(OUTPUT_ECG_STANDARD);
    double* ac = malloc(sizeof(double) * kCount);
    double* dc = malloc(sizeof(double) * kCount);
    double render[kRenders];
    for (int r = 0; r < kRenders; ++r) {
        double t0 = now();
        if (HSIMRenderOutput(kCount, ac, dc, NULL, NULL) != kCount)
            return 1;
        render[r] = now() - t0;
    }
    qsort(render, kRenders, sizeof render[0], compare);
    printf("render60_s %.4f\n", render[kRenders / 2]);
    free(ac);
    free(dc);
    HSIMFree();
    return 0;
}
