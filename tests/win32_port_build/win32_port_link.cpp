#include "port_channel.h"
#include "win32_port_platform.h"

// Never run: linking it resolves every Win32 call the provider makes.
int main()
{
    Win32PortPlatform platform;
    PortChannel channel(platform);
    channel.OpenPortChannel();
    channel.ClosePortChannel();
    return channel.PortChannelReady() ? 0 : 1;
}
