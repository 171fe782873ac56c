/*
 * The platform under the configuration core in host tools: boot services
 * whose pool is the C heap.
 */
#ifndef TOLVANE_TOOLS_HOST_PLATFORM_H
#define TOLVANE_TOOLS_HOST_PLATFORM_H

namespace RivariCheck {

/* Points the captured BootServices at the host's boot services. */
void InstallHostPlatform();

} // namespace RivariCheck

#endif
