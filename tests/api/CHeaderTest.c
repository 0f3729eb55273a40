/* The public headers compile as C, and a C program links against the
 * library and calls it. Exit status 0 when every check holds. */
#include "hsim.h"
#include "hsim_ext.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    char text[] = "  /dev/ttyACM0\n";
    MODEL_INFORMATION info;
    RAW_DATA_INFORMATION raw;
    _DEVICE_CONTROL_SETTING setting;
    char format[64];
    char locks[64];
    HSIM_STATUS status;

    check(sizeof(MODEL_INFORMATION) == 12, "the model record is 12 bytes");
    check(sizeof(_DEVICE_CONTROL_SETTING) == 64, "the control setting is 64 bytes");
    (void)raw;
    (void)setting;
    check(HSIMGetVersion() == 16778498, "library version 1.0.5.2");
    check(HSIM_VERSION == 16778498, "header version matches");
    check(ConvertVersion("2.1") == 0x02010000, "ConvertVersion");
    StringTrim(text);
    check(strcmp(text, "/dev/ttyACM0") == 0, "StringTrim");
    check(!HSIMIsConnected(), "nothing connected");
    check(HSIMGetDeviceInformation(&info) == 0, "no device information without a device");
    check(strcmp(HSIMGetSerialNumber(), "H") == 0, "serial text from zero fields");
    check(HSIMSetDeviceLocation("/tmp/nowhere/ttyACM%d", "/tmp/nowhere") == 0, "location accepted");
    check(HSIMGetDeviceLocation(format, sizeof format, locks, sizeof locks) == 0 &&
              strcmp(format, "/tmp/nowhere/ttyACM%d") == 0 && strcmp(locks, "/tmp/nowhere") == 0,
          "location read back");
    check(HSIMSetOutputFunction(OUTPUT_SINE) == -1, "setter refuses without a device");
    check(HSIMGetLastStatus(&status) == HSIM_CAUSE_NO_DEVICE && status.cause == HSIM_CAUSE_NO_DEVICE,
          "the refusal's cause is kept: no device");
    printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
