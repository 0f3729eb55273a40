// An application built against the installed library.
#include <hsim.hpp>
#include <hsim_ext.h>

#include <cstdio>

int main()
{
    std::printf("%d %s\n", HSIMGetVersion(), HSIMIsConnected() ? "connected" : "idle");
    return HSIMGetVersion() == HSIM_VERSION ? 0 : 1;
}
