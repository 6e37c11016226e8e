#include "hut/hut_util.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"

namespace {
constexpr uint32_t HIERARCHY_SEGMENT_VERSION = 1;

// A restored manager and the action point it was installed on.
struct RESTORED_MGR
{
    const HDB_ACTION_PT_INSTANCE* cap;
    std::unique_ptr<HDB_NAME_MGR> mgr;
};

std::vector<RESTORED_MGR>& restored_mgrs()
{
    static std::vector<RESTORED_MGR> s_mgrs;
    return s_mgrs;
}
}  // namespace

bool HUT_UTIL::save_name_mgr_to_pdb(const HDB_NAME_MGR* mgr, const std::string& base_name, std::string* error)
{
    if (mgr == nullptr) {
        if (error) *error = "no name manager to save";
        return false;
    }
    try {
        PDB_ARCHIVE archive(gen_generate_pdb_filename(base_name, ""));
        PDB_SEGMENT_WRITER w(archive, PDB_SEGMENT_HIERARCHY);
        w.write_u32(HIERARCHY_SEGMENT_VERSION);
        const auto& names = mgr->get_names();
        w.write_u64(names.size());
        w.write_string(mgr->get_root()->get_short_hpath());
        w.write_u32(mgr->get_root()->get_flags());
        // Parents always come before their children (ids grow), so each
        // name is its parent's id plus its leaf.
        for (size_t i = 1; i < names.size(); ++i) {
            const HDB_INSTANCE_NAME* n = names[i];
            w.write_u32(n->get_parent() ? n->get_parent()->get_id() : 0);
            w.write_string(std::string(n->get_leaf()));
            w.write_u32(n->get_flags());
        }
        w.commit();
        return true;
    } catch (const PDB_DATABASE_EXCEPTION& e) {
        if (error) *error = e.what();
        return false;
    }
}

HDB_NAME_MGR* HUT_UTIL::restore_name_mgr_from_pdb(const std::string& base_name, std::string* error)
{
    try {
        PDB_ARCHIVE archive(gen_generate_pdb_filename(base_name, ""));
        PDB_SEGMENT_READER r(archive, PDB_SEGMENT_HIERARCHY);
        if (r.read_u32() != HIERARCHY_SEGMENT_VERSION)
            throw PDB_DATABASE_EXCEPTION("\"" + r.get_file_name() + "\": unknown hierarchy segment version");
        uint64_t count = r.read_u64();
        std::string root = r.read_string();
        auto mgr = std::make_unique<HDB_NAME_MGR>(root);
        mgr->get_root()->set_flags(r.read_u32());
        for (uint64_t i = 1; i < count; ++i) {
            uint32_t parent = r.read_u32();
            std::string leaf = r.read_string();
            uint32_t flags = r.read_u32();
            HDB_INSTANCE_NAME* p = mgr->get_iname(parent);
            if (p == nullptr || parent >= i)
                throw PDB_DATABASE_EXCEPTION("\"" + r.get_file_name() + "\": name with an unknown parent");
            HDB_INSTANCE_NAME* n = mgr->create_name(p, leaf, flags);
            if (n == nullptr || n->get_id() != i)
                throw PDB_DATABASE_EXCEPTION("\"" + r.get_file_name() + "\": duplicate or empty name \"" + leaf + "\"");
        }
        r.expect_end();
        return mgr.release();
    } catch (const PDB_DATABASE_EXCEPTION& e) {
        if (error) *error = e.what();
        return nullptr;
    }
}

bool HUT_UTIL::save_cap_inst_to_pdb(const HDB_ACTION_PT_INSTANCE* cap, const std::string& base_name, std::string* error)
{
    if (cap == nullptr) {
        if (error) *error = "no action point";
        return false;
    }
    std::string reason;
    if (!save_name_mgr_to_pdb(cap->get_name_mgr(), base_name, &reason)) {
        if (error) *error = reason;
        else PDB_DATABASE_EXCEPTION(reason).report();
        return false;
    }
    return true;
}

bool HUT_UTIL::restore_cap_inst_from_pdb(HDB_ACTION_PT_INSTANCE* cap, const std::string& base_name, PDB_FILE_TYPE)
{
    if (cap == nullptr) return false;
    std::string error;
    HDB_NAME_MGR* mgr = restore_name_mgr_from_pdb(base_name, &error);
    if (mgr == nullptr) {
        PDB_DATABASE_EXCEPTION(error).report();
        return false;
    }
    restored_mgrs().push_back({cap, std::unique_ptr<HDB_NAME_MGR>(mgr)});
    cap->set_name_mgr(mgr);
    return true;
}

void HUT_UTIL::release_restored_name_mgrs(const HDB_NAME_MGR* keep)
{
    auto& v = restored_mgrs();
    v.erase(std::remove_if(v.begin(), v.end(), [&](const RESTORED_MGR& m) { return m.mgr.get() != keep; }), v.end());
}

void HUT_UTIL::release_superseded_name_mgrs(const HDB_ACTION_PT_INSTANCE* cap)
{
    if (cap == nullptr) return;
    auto& v = restored_mgrs();
    v.erase(std::remove_if(v.begin(), v.end(),
                           [&](const RESTORED_MGR& m) { return m.cap == cap && m.mgr.get() != cap->get_name_mgr(); }),
            v.end());
}

int HUT_UTIL::count_restored_name_mgrs()
{
    return static_cast<int>(restored_mgrs().size());
}
