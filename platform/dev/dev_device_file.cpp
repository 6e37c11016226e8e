// The device file: "key value..." lines overriding a built-in device. Every
// value is checked for its kind and range, and every check that depends on
// another line (blocks inside the final grid, slots the grid can number) runs
// once the whole file is read, naming the line it is about. A key given twice
// is an error rather than a silent override.

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cfg/cfg_file.h"
#include "dev/dev_device.h"
#include "fio/fio.h"

namespace {

using WORDS = std::vector<std::string_view>;

constexpr long k_max_grid = 4096;
constexpr long k_max_delay_ps = 1000000;

WORDS split_words(std::string_view line)
{
    WORDS words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool is_block_type(long t)
{
    return t == DEV_BLOCK_NONE || t == DEV_BLOCK_IO || t == DEV_BLOCK_RAM || t == DEV_BLOCK_DSP ||
           dev_is_usable_lab_type(static_cast<int>(t));
}

int* delay_slot(DEV_TIMING_MODEL& m, std::string_view name)
{
    static const char* const k_pins[] = {"lut_a", "lut_b", "lut_c", "lut_d", "lut_e", "lut_f", "lut_g"};
    for (int i = 0; i < 7; ++i)
        if (name == k_pins[i]) return &m.lut_input[i];
    const std::pair<const char*, int*> named[] = {{"carry_in_to_carry_out", &m.carry_in_to_carry_out},
                                                  {"carry_in_to_sum", &m.carry_in_to_sum},
                                                  {"data_to_carry_out", &m.data_to_carry_out},
                                                  {"share_in_to_out", &m.share_in_to_out},
                                                  {"tco", &m.tco},
                                                  {"tsu", &m.tsu},
                                                  {"intra_lab", &m.intra_lab},
                                                  {"inter_lab_base", &m.inter_lab_base},
                                                  {"per_hop", &m.per_hop},
                                                  {"clock_network", &m.clock_network},
                                                  {"io_in", &m.io_in},
                                                  {"io_out", &m.io_out},
                                                  {"ram_tco", &m.ram_tco},
                                                  {"ram_tsu", &m.ram_tsu},
                                                  {"dsp_tco", &m.dsp_tco},
                                                  {"dsp_tsu", &m.dsp_tsu}};
    for (const auto& [n, p] : named)
        if (name == n) return p;
    return nullptr;
}

}  // namespace

class DEV_DEVICE_FILE_READER
{
public:
    DEV_DEVICE_FILE_READER(DEV_DEVICE& dev, std::string path) : m_dev(dev), m_path(std::move(path)) {}

    void read()
    {
        std::string text, error;
        if (!fio_read_user_file(m_path, text, error))
            throw std::runtime_error(m_path + ": cannot read the device file: " + error);
        const std::string_view all(text);
        size_t pos = 0;
        while (pos < all.size()) {
            ++m_line;
            std::string_view line = fio_next_line(all, pos);
            line = line.substr(0, line.find('#'));
            const WORDS words = split_words(line);
            if (!words.empty()) take(words);
        }
        finish();
    }

private:
    struct BLOCK
    {
        int x, y, type, line;
    };

    [[noreturn]] void fail(const std::string& what, int line = 0) const
    {
        throw std::runtime_error(m_path + ":" + std::to_string(line > 0 ? line : m_line) + ": " + what);
    }

    // The key takes exactly `values` words after it, shaped as `shape` says.
    void expect(const WORDS& w, size_t values, const char* shape) const
    {
        if (w.size() != values + 1)
            fail("'" + std::string(w[0]) + "' takes " + shape + ", found " + std::to_string(w.size() - 1) + " word(s)");
    }

    // A whole decimal number in [lo, hi]; `what` names it in the message.
    int number(std::string_view word, long lo, long hi, const std::string& what) const
    {
        const std::optional<int> v = cfg_parse_int(word);
        if (!v || *v < lo || *v > hi)
            fail(what + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                 ", found '" + std::string(word) + "'");
        return *v;
    }

    // Each key (or key and subject) may be given once.
    void once(const std::string& identity)
    {
        auto [it, fresh] = m_seen.emplace(identity, m_line);
        if (!fresh) fail("'" + identity + "' is given twice (first on line " + std::to_string(it->second) + ")");
    }

    void take(const WORDS& w)
    {
        const std::string_view key = w[0];
        if (key == "family") {
            take_family(w);
        } else if (key == "grid") {
            take_grid(w);
        } else if (key == "ram_column" || key == "dsp_column") {
            take_column(w);
        } else if (key == "block") {
            take_block(w);
        } else {
            take_value(w);
        }
        m_any_key = true;
    }

    // Whether a block lies inside the grid is known once the file is read.
    void take_block(const WORDS& w)
    {
        expect(w, 3, "X Y TYPE");
        const int x = number(w[1], 0, k_max_grid - 1, "block x");
        const int y = number(w[2], 0, k_max_grid - 1, "block y");
        once("block " + std::to_string(x) + " " + std::to_string(y));
        const int type = number(w[3], 0, INT_MAX, "block type");
        if (!is_block_type(type)) fail("unknown block type " + std::to_string(type));
        m_blocks.push_back({x, y, type, m_line});
    }

    // `family` resets every other value to the family's, so it comes first.
    void take_family(const WORDS& w)
    {
        expect(w, 1, "a family code");
        once("family");
        if (m_any_key) fail("'family' must come before every other key: it resets them");
        const int family = number(w[1], 0, INT_MAX, "family");
        if (!dev_is_known_family(family)) fail("unknown family " + std::to_string(family));
        m_dev.init_family(family);
    }

    // `grid` clears the RAM and DSP columns, so it comes before them.
    void take_grid(const WORDS& w)
    {
        expect(w, 2, "NX NY");
        once("grid");
        if (m_columns_given) fail("'grid' must come before 'ram_column' and 'dsp_column': it clears them");
        m_dev.m_nx = number(w[1], 3, k_max_grid, "grid width");
        m_dev.m_ny = number(w[2], 3, k_max_grid, "grid height");
        m_dev.m_ram_columns.clear();
        m_dev.m_dsp_columns.clear();
        m_grid_changed = true;
    }

    void take_column(const WORDS& w)
    {
        expect(w, 1, "a column number");
        const int x = number(w[1], 1, m_dev.m_nx - 2, "column");
        once("column " + std::to_string(x));
        (w[0] == "ram_column" ? m_dev.m_ram_columns : m_dev.m_dsp_columns).push_back(x);
        m_columns_given = true;
        m_grid_changed = true;
    }

    void take_value(const WORDS& w)
    {
        const std::string_view key = w[0];
        if (key == "part") {
            expect(w, 1, "a part number");
            once("part");
            const int part = number(w[1], 0, INT_MAX, "part");
            if (DEV_PART_MANAGER::get_family_of(part) != m_dev.m_family)
                fail("part " + std::to_string(part) + " is not a part of family " + std::to_string(m_dev.m_family) +
                     " (its parts are " + std::to_string(m_dev.m_family * 100) + " .. " +
                     std::to_string(m_dev.m_family * 100 + 99) + ")");
            m_dev.m_part = part;
        } else if (key == "device_enum") {
            expect(w, 1, "a device number");
            once("device_enum");
            m_dev.m_basic.m_device_enum = static_cast<DEV_DEVICE_ENUM>(number(w[1], 0, INT_MAX, "device_enum"));
        } else if (key == "name") {
            expect(w, 1, "one word");
            once("name");
            m_dev.m_basic.m_name = std::string(w[1]);
        } else if (key == "lab_capacity") {
            expect(w, 1, "a number");
            once("lab_capacity");
            m_dev.m_lab_capacity = number(w[1], 1, 1024, "lab_capacity");
            m_capacity_line = m_line;
        } else if (key == "lab_type") {
            expect(w, 1, "a LAB block type");
            once("lab_type");
            const int type = number(w[1], 0, INT_MAX, "lab_type");
            if (!dev_is_usable_lab_type(type)) fail("not a LAB block type: " + std::to_string(type));
            m_dev.m_lab_type = type;
            m_grid_changed = true;
        } else {
            take_list_value(w);
        }
    }

    void take_list_value(const WORDS& w)
    {
        const std::string_view key = w[0];
        if (key == "resource") {
            expect(w, 2, "TYPE COUNT");
            const int type = number(w[1], 0, INT_MAX, "resource type");
            once("resource " + std::to_string(type));
            const int count = number(w[2], 0, INT_MAX, "resource count");
            auto& resources = m_dev.m_resources;
            auto it = std::find_if(resources.begin(), resources.end(), [&](const auto& r) { return r.first == type; });
            if (it != resources.end()) it->second = count;
            else resources.emplace_back(type, count);
        } else if (key == "migratable_part") {
            expect(w, 1, "a part number");
            m_dev.m_migration.m_parts.push_back(number(w[1], 0, INT_MAX, "migratable_part"));
            m_dev.m_has_migration = true;
        } else if (key == "migration_target") {
            expect(w, 1, "a part number");
            once("migration_target");
            m_dev.m_migration.m_target = number(w[1], 0, INT_MAX, "migration_target");
            m_dev.m_has_migration = true;
        } else if (key == "ram_kinds") {
            take_ram_kinds(w);
        } else if (key == "bool") {
            expect(w, 2, "ID 0|1");
            const int id = number(w[1], 0, INT_MAX, "bool id");
            once("bool " + std::to_string(id));
            m_dev.m_basic.set_bool(id, number(w[2], 0, 1, "bool value") == 1);
        } else if (key == "delay") {
            expect(w, 2, "NAME PICOSECONDS");
            int* slot = delay_slot(m_dev.m_model, w[1]);
            if (!slot) fail("unknown delay '" + std::string(w[1]) + "'");
            once("delay " + std::string(w[1]));
            *slot = number(w[2], 0, k_max_delay_ps, "delay");
        } else {
            fail("unknown key '" + std::string(key) + "'");
        }
    }

    void take_ram_kinds(const WORDS& w)
    {
        if (w.size() < 2) fail("'ram_kinds' takes one or more RAM block kinds (256, 257 or 258)");
        once("ram_kinds");
        std::vector<int> kinds;
        for (size_t k = 1; k < w.size(); ++k) {
            const int kind = number(w[k], 0, INT_MAX, "RAM block kind");
            if (!dev_is_ram_block_kind(kind))
                fail("not a RAM block kind: " + std::to_string(kind) + " (256 small, 257 medium, 258 large)");
            kinds.push_back(kind);
        }
        m_dev.m_ram_kinds = kinds;
    }

    // Checks that need the whole file: the grid is final only now.
    void finish()
    {
        if (static_cast<long long>(m_dev.m_nx) * m_dev.m_ny * m_dev.m_lab_capacity > INT_MAX)
            fail("a " + std::to_string(m_dev.m_nx) + " x " + std::to_string(m_dev.m_ny) + " grid of LABs of " +
                     std::to_string(m_dev.m_lab_capacity) + " has more slots than can be numbered",
                 m_capacity_line);
        if (m_grid_changed) m_dev.build_grid();
        for (const BLOCK& b : m_blocks) {
            if (b.x >= m_dev.m_nx || b.y >= m_dev.m_ny)
                fail("block " + std::to_string(b.x) + " " + std::to_string(b.y) + " is outside the " +
                         std::to_string(m_dev.m_nx) + " x " + std::to_string(m_dev.m_ny) + " grid",
                     b.line);
            m_dev.m_blocks[static_cast<size_t>(b.x) * m_dev.m_ny + b.y] = b.type;
        }
    }

    DEV_DEVICE& m_dev;
    std::string m_path;
    int m_line = 0;
    int m_capacity_line = 0;
    bool m_any_key = false;
    bool m_grid_changed = false;
    bool m_columns_given = false;
    std::vector<BLOCK> m_blocks;
    std::unordered_map<std::string, int> m_seen;  // key (and subject) -> first line
};

DEV_DEVICE* DEV_DEVICE::load_from_file(const char* path)
{
    std::unique_ptr<DEV_DEVICE> dev(new DEV_DEVICE(DEV_FAMILY_BRENNOCK));
    DEV_DEVICE_FILE_READER(*dev, path ? path : "").read();
    return dev.release();
}
