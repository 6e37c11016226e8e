#pragma once

// The host's table timing model reads the fitter component's exported
// per-family timing tables; this makes them its source.

namespace morv_host {

// Installs the component's tables as the process-wide timing-data source.
void install_component_timing_data();

}  // namespace morv_host
