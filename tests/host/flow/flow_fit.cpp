#include "flow_fit.h"

#include <sstream>

#include "cfg/cfg.h"
#include "host_compile.h"
#include "msg/msg.h"

FIT run_fit(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = {"morv-fit"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream o, e;
    // Each command line starts from no settings: an earlier test's --set
    // must not reach this compile, whatever order the tests run in.
    cfg_clear_all();
    msg_clear_posted_messages();
    FIT r;
    r.status = morv_host::fit_main(static_cast<int>(argv.size()), argv.data(), o, e);
    r.out = o.str();
    r.err = e.str();
    return r;
}

int fit(const std::vector<std::string>& args, std::string* out)
{
    FIT r = run_fit(args);
    if (out != nullptr) *out = r.out + r.err;
    return r.status;
}
