#include "morv/rammap/morv_ram_mif.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cmp/cmp_facade.h"
#include "hdb/hdb_action_pt_instance.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

int s_ram_counter = 0;

// Source-file kind of a memory-initialisation file registered with the host.
constexpr int k_mif_source_file_kind = 12;

// Little-endian 32-bit limbs of the word at an address.
std::vector<uint32_t> word_limbs(const std::vector<MORV_RAM_COLUMN>& columns, int address)
{
    std::vector<uint32_t> limbs((columns.size() + 31) / 32, 0u);
    for (size_t k = 0; k < columns.size(); ++k)
        if (columns[k][static_cast<size_t>(address)]) limbs[k / 32] |= uint32_t{1} << (k % 32);
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    return limbs;
}

// Divides the limbs by `divisor` in place and answers the remainder.
uint32_t divide(std::vector<uint32_t>& limbs, uint32_t divisor)
{
    uint64_t rest = 0;
    for (size_t i = limbs.size(); i-- > 0;) {
        const uint64_t value = (rest << 32) | limbs[i];
        limbs[i] = static_cast<uint32_t>(value / divisor);
        rest = value % divisor;
    }
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    return static_cast<uint32_t>(rest);
}

}  // namespace

int morv_ram_counter()
{
    return s_ram_counter;
}

std::string morv_next_mif_file_name(const std::string& project)
{
    std::string name("db/");
    name.append(project).append(".").append(std::to_string(s_ram_counter++)).append(".rmp.mif");
    return name;
}

std::string morv_mif_word(const std::vector<MORV_RAM_COLUMN>& columns, int address)
{
    std::vector<uint32_t> limbs = word_limbs(columns, address);
    if (limbs.empty()) return "0";
    // Nine decimal digits at a time, least significant group first.
    std::vector<uint32_t> groups;
    while (!limbs.empty()) groups.push_back(divide(limbs, 1000000000u));
    std::string text = std::to_string(groups.back());
    for (size_t i = groups.size() - 1; i-- > 0;) {
        const std::string group = std::to_string(groups[i]);
        text.append(9 - group.size(), '0').append(group);
    }
    return text;
}

bool morv_write_mif(std::FILE* fp, int width, int depth, const std::vector<MORV_RAM_COLUMN>& columns)
{
    MORV_ASSERT(fp);
    MORV_ASSERT(static_cast<size_t>(width) == columns.size());
    for (const MORV_RAM_COLUMN& column : columns) MORV_ASSERT(column.size() == static_cast<size_t>(depth));
    if (std::fprintf(fp,
                     "-- [PROTO] RAM Mapping Generated Memory Initialization File\nWIDTH=%d;\nDEPTH=%d;\n\n"
                     "ADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\n\nCONTENT BEGIN\n",
                     width, depth) < 0)
        return false;
    for (int a = 0; a < depth; ++a)
        if (std::fprintf(fp, "    %d  :  %s;\n", a, morv_mif_word(columns, a).c_str()) < 0) return false;
    return std::fputs("END;\n", fp) >= 0 && std::fflush(fp) == 0 && !std::ferror(fp);
}

bool morv_write_mif_file(const std::string& path, int width, int depth, const std::vector<MORV_RAM_COLUMN>& columns)
{
    std::string partial(path);
    partial.append(".partial");
    std::FILE* fp = std::fopen(partial.c_str(), "w");
    if (fp == nullptr) return false;
    const bool written = morv_write_mif(fp, width, depth, columns);
    const bool closed = std::fclose(fp) == 0;
    if (written && closed && std::rename(partial.c_str(), path.c_str()) == 0) return true;
    std::remove(partial.c_str());
    return false;
}

std::string MORV_RAM_MAP_UTIL::make_mif_file_name()
{
    const std::string name = morv_next_mif_file_name(m_fsyn_api->get_project_name());
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT(env);
    CMP_FACADE* cmp = env->get_cmp();
    MORV_ASSERT(cmp);
    HDB_ACTION_PT_INSTANCE* action_point = cmp->get_action_point_instance();
    MORV_ASSERT(action_point);
    HDB_SOURCE_FILE* source_file = action_point->create_source_file(name, k_mif_source_file_kind);
    MORV_ASSERT_TEXT(source_file != nullptr, "source_file != NULL");
    return name;
}
