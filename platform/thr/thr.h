#pragma once
// Run-time library loader. Libraries are an in-process registry of named
// libraries, each with named functions; a test can add functions or make a
// library fail to load. The built-in library THR_DRL_BPM_LIBRARY carries
// "bpm_drl_get_active_boundary_port_manager".

class BPM_BOUNDARY_PORT_MANAGER;  // defined by the boundary-port service

struct THR_DRL_LIBRARY;               // opaque handle of a loaded library
using THR_DRL_FUNCTION = void (*)();  // cast to the real signature

inline constexpr const char* THR_DRL_BPM_LIBRARY = "bpm";
inline constexpr const char* THR_DRL_BPM_GET_ACTIVE_FUNCTION = "bpm_drl_get_active_boundary_port_manager";

// Null on failure; thr_drl_get_error then tells why.
THR_DRL_LIBRARY* thr_drl_load(const char* library_name);
// Null when the handle is null or the library has no such function.
THR_DRL_FUNCTION thr_drl_find_function(THR_DRL_LIBRARY* library, const char* function_name);
// Text of the last failure ("" when none has happened since the last reset).
const char* thr_drl_get_error();

// ---- registry control (host set-up and tests)
void thr_drl_register_function(const char* library_name, const char* function_name, THR_DRL_FUNCTION function);
void thr_drl_unregister_library(const char* library_name);
void thr_drl_set_load_failure(const char* library_name, bool fail);
// Back to the built-in registry (only the boundary-port library), no
// failures, empty error text, no active boundary-port manager.
void thr_drl_reset();

// ---- boundary-port manager entry
using BPM_DRL_GET_ACTIVE_BOUNDARY_PORT_MANAGER_FN = BPM_BOUNDARY_PORT_MANAGER* (*)();
// Null (no incremental partitions) unless one has been installed.
BPM_BOUNDARY_PORT_MANAGER* bpm_drl_get_active_boundary_port_manager();
void bpm_drl_set_active_boundary_port_manager(BPM_BOUNDARY_PORT_MANAGER* manager);
