#include "thr/thr.h"

#include <map>
#include <memory>
#include <string>

struct THR_DRL_LIBRARY
{
    std::string name;
    bool available = false;  // registered and not unregistered since
    bool fail_to_load = false;
    std::map<std::string, THR_DRL_FUNCTION, std::less<>> functions;
};

namespace {

struct THR_STATE
{
    // Libraries are never destroyed while the process runs, only reset to
    // their built-in contents, so handles handed out stay valid.
    std::map<std::string, std::unique_ptr<THR_DRL_LIBRARY>, std::less<>> libraries;
    std::string error;
    BPM_BOUNDARY_PORT_MANAGER* active_bpm = nullptr;
};

// Takes the state rather than calling thr_state(): the built-ins are installed
// while thr_state() is still building it.
THR_DRL_LIBRARY& library_slot(THR_STATE& state, const char* name)
{
    auto& slot = state.libraries[name ? name : ""];
    if (!slot) {
        slot = std::make_unique<THR_DRL_LIBRARY>();
        slot->name = name ? name : "";
    }
    return *slot;
}

void install_builtins(THR_STATE& state)
{
    THR_DRL_LIBRARY& lib = library_slot(state, THR_DRL_BPM_LIBRARY);
    lib.available = true;
    lib.functions[THR_DRL_BPM_GET_ACTIVE_FUNCTION] =
        reinterpret_cast<THR_DRL_FUNCTION>(&bpm_drl_get_active_boundary_port_manager);
}

THR_STATE& thr_state()
{
    static THR_STATE* s_state = [] {
        auto* s = new THR_STATE;
        install_builtins(*s);
        return s;
    }();
    return *s_state;
}

THR_DRL_LIBRARY& library_slot(const char* name)
{
    return library_slot(thr_state(), name);
}

}  // namespace

THR_DRL_LIBRARY* thr_drl_load(const char* library_name)
{
    THR_STATE& s = thr_state();
    std::string name = library_name ? library_name : "";
    auto it = s.libraries.find(name);
    if (it == s.libraries.end() || !it->second->available || it->second->fail_to_load) {
        s.error = "Cannot load library \"" + name + "\"";
        return nullptr;
    }
    return it->second.get();
}

THR_DRL_FUNCTION thr_drl_find_function(THR_DRL_LIBRARY* library, const char* function_name)
{
    THR_STATE& s = thr_state();
    std::string name = function_name ? function_name : "";
    if (!library) {
        s.error = "Cannot find function \"" + name + "\": no library";
        return nullptr;
    }
    auto it = library->functions.find(name);
    if (it == library->functions.end() || !it->second) {
        s.error = "Cannot find function \"" + name + "\" in library \"" + library->name + "\"";
        return nullptr;
    }
    return it->second;
}

const char* thr_drl_get_error()
{
    return thr_state().error.c_str();
}

void thr_drl_register_function(const char* library_name, const char* function_name, THR_DRL_FUNCTION function)
{
    THR_DRL_LIBRARY& lib = library_slot(library_name);
    lib.available = true;
    lib.functions[function_name ? function_name : ""] = function;
}

void thr_drl_unregister_library(const char* library_name)
{
    auto& libs = thr_state().libraries;
    auto it = libs.find(std::string(library_name ? library_name : ""));
    if (it == libs.end()) return;
    // The record stays, so an old handle is still valid memory.
    it->second->functions.clear();
    it->second->available = false;
}

void thr_drl_set_load_failure(const char* library_name, bool fail)
{
    library_slot(library_name).fail_to_load = fail;
}

void thr_drl_reset()
{
    THR_STATE& s = thr_state();
    for (auto& [name, lib] : s.libraries) {
        lib->functions.clear();
        lib->fail_to_load = false;
        lib->available = false;
    }
    install_builtins(s);
    s.error.clear();
    s.active_bpm = nullptr;
}

BPM_BOUNDARY_PORT_MANAGER* bpm_drl_get_active_boundary_port_manager()
{
    return thr_state().active_bpm;
}

void bpm_drl_set_active_boundary_port_manager(BPM_BOUNDARY_PORT_MANAGER* manager)
{
    thr_state().active_bpm = manager;
}
