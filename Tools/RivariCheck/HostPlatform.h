/*
 * The platform under the driver's code in host tools: boot services whose
 * pool is the C heap, and no port output.
 */
#ifndef TOLVANE_TOOLS_HOST_PLATFORM_H
#define TOLVANE_TOOLS_HOST_PLATFORM_H

namespace RivariCheck {

/* Points the driver's BootServices at the host's boot services. */
void InstallHostPlatform();

} // namespace RivariCheck

#endif
