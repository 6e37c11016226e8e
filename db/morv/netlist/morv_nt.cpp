#include "morv/netlist/morv_nt.h"

#include <deque>
#include <ostream>
#include <set>

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"

namespace {

const char* const s_TYPE_NAMES[MORV_NT_TYPE_END] = {
    "FSYN_NT_NO_TYPE",    "FSYN_NT_MERGE",       "FSYN_NT_SPLIT",        "FSYN_NT_REUSE",         "FSYN_NT_DUPLICATE",
    "FSYN_NT_PACK_INPUT", "FSYN_NT_PACK_OUTPUT", "FSYN_NT_UNPACK_INPUT", "FSYN_NT_UNPACK_OUTPUT", "FSYN_NT_REPACK_I_I",
    "FSYN_NT_REPACK_I_O", "FSYN_NT_REPACK_O_I",  "FSYN_NT_REPACK_O_O"};

const char* const s_KIND_SUFFIXES[] = {"", " (packed input reg A)", " (packed input reg B)", " (packed output reg)"};

// " a  b " for the ids a, b: every id framed by blanks.
std::string list_text(const MORV_NT_NODE_ID_LIST& ids)
{
    std::string text;
    for (const MORV_NT_NODE_ID& id : ids) text.append(" ").append(id.to_string(false)).append(" ");
    return text;
}

}  // namespace

const char* morv_nt_type_name(int type)
{
    MORV_ASSERT(type >= MORV_NT_TYPE_NO_TYPE && type < MORV_NT_TYPE_END);
    return s_TYPE_NAMES[type];
}

// ---------------------------------------------------------------- node ids

MORV_NT_NODE_ID::MORV_NT_NODE_ID(int atom_id, int kind) : m_atom_id(atom_id), m_kind(kind)
{
    MORV_ASSERT(kind >= NODE && kind <= PACKED_OUTPUT_REG);
}

std::string MORV_NT_NODE_ID::to_string(bool brackets) const
{
    std::string text;
    if (brackets) text.push_back('<');
    text.append(std::to_string(m_atom_id)).append(s_KIND_SUFFIXES[m_kind]);
    if (brackets) text.push_back('>');
    return text;
}

std::ostream& operator<<(std::ostream& out, const MORV_NT_NODE_ID& id)
{
    return out << id.to_string(false);
}

// ---------------------------------------------------------------- implementation

void MORV_NT_IMPL::add_node_to_operation(const MORV_NT_NODE_ID& id, MORV_NT_OPERATION& operation, int side)
{
    m_nodes[id].m_operation_lists[side].push_back(operation.m_id);
    operation.m_node_lists[side].push_back(id);
}

int MORV_NT_IMPL::record(const MORV_NT_NODE_ID* src_nodes, size_t num_src, const MORV_NT_NODE_ID* dst_nodes,
                         size_t num_dst, bool distinct, int type, std::string&& comment)
{
    // An unknown type would print past the name table in the dump.
    MORV_ASSERT(type >= MORV_NT_TYPE_NO_TYPE && type < MORV_NT_TYPE_END);
    const int id = static_cast<int>(m_operations.size());
    MORV_NT_OPERATION& operation = m_operations.emplace_back();
    operation.m_id = id;
    operation.m_type = type;
    operation.m_comment = std::move(comment);

    const MORV_NT_NODE_ID* lists[2] = {src_nodes, dst_nodes};
    const size_t sizes[2] = {num_src, num_dst};
    for (int side : {MORV_NT_SRC, MORV_NT_DST}) {
        std::set<MORV_NT_NODE_ID> seen;
        for (size_t i = 0; i < sizes[side]; ++i)
            if (!distinct || seen.insert(lists[side][i]).second) add_node_to_operation(lists[side][i], operation, side);
    }
    return id;
}

const MORV_NT_NODE* MORV_NT_IMPL::find_node(const MORV_NT_NODE_ID& id) const
{
    auto found = m_nodes.find(id);
    return found == m_nodes.end() ? nullptr : &found->second;
}

bool MORV_NT_IMPL::get_leaves_or_roots(const MORV_NT_NODE_ID& id, MORV_NT_NODE_ID_LIST* result,
                                       int leaves_or_roots) const
{
    MORV_ASSERT(leaves_or_roots == MORV_NT_LR_LEAVES || leaves_or_roots == MORV_NT_LR_ROOTS);
    MORV_ASSERT(result);
    result->clear();
    if (!find_node(id)) return false;

    // Leaves follow the operations a node is a source of to their
    // destinations; roots the other way round.
    const int via = leaves_or_roots == MORV_NT_LR_LEAVES ? MORV_NT_SRC : MORV_NT_DST;
    const int towards = 1 - via;
    std::deque<MORV_NT_NODE_ID> work_list{id};
    std::set<MORV_NT_NODE_ID> visited;
    while (!work_list.empty()) {
        const MORV_NT_NODE_ID current = work_list.front();
        work_list.pop_front();
        if (!visited.insert(current).second) continue;
        const MORV_NT_NODE* node = find_node(current);
        MORV_ASSERT(node);
        const MORV_NT_OPERATION_ID_LIST& operations = node->m_operation_lists[via];
        if (operations.empty()) result->push_back(current);
        for (int operation_id : operations) {
            const MORV_NT_NODE_ID_LIST& successor_nodes = m_operations[operation_id].m_node_lists[towards];
            work_list.insert(work_list.end(), successor_nodes.begin(), successor_nodes.end());
        }
    }
    return true;
}

void MORV_NT_IMPL::dump(std::FILE* fp) const
{
    std::fprintf(fp, "**** Dumping all operations ****\n");
    for (const MORV_NT_OPERATION& operation : m_operations)
        std::fprintf(fp, "OP (%d) [%s] SRC(%s) DST(%s) {%s}\n", operation.m_id, morv_nt_type_name(operation.m_type),
                     list_text(operation.m_node_lists[MORV_NT_SRC]).c_str(),
                     list_text(operation.m_node_lists[MORV_NT_DST]).c_str(), operation.m_comment.c_str());

    std::fprintf(fp, "**** Dumping all tracked nodes ****\n");
    MORV_NT_NODE_ID_LIST ends;
    for (const auto& entry : m_nodes) {
        std::fprintf(fp, "NODE %s\n", entry.first.to_string(true).c_str());
        const char* headings[2] = {" - ROOTS -\n", " - LEAVES -\n"};
        const int modes[2] = {MORV_NT_LR_ROOTS, MORV_NT_LR_LEAVES};
        for (int i = 0; i < 2; ++i) {
            std::fputs(headings[i], fp);
            get_leaves_or_roots(entry.first, &ends, modes[i]);
            for (const MORV_NT_NODE_ID& end : ends) std::fprintf(fp, "   %s", end.to_string(true).c_str());
            std::fputs("\n", fp);
        }
    }
}

void MORV_NT_IMPL::clear()
{
    m_nodes.clear();
    m_operations.clear();
}

// ---------------------------------------------------------------- facade

MORV_NT::MORV_NT() : m_impl(MORV_MAKE_OWNER(MORV_NT_IMPL)) {}

MORV_NT::MORV_NT(const MORV_NT& other) : m_impl(MORV_MAKE_OWNER(MORV_NT_IMPL, *other.m_impl)) {}

MORV_NT::~MORV_NT() = default;

void MORV_NT::clear()
{
    m_impl->clear();
}

int MORV_NT::record_operation(const MORV_NT_NODE_ID& src_node_id, const MORV_NT_NODE_ID& dst_node_id, int type,
                              std::string comment)
{
    return m_impl->record(&src_node_id, 1, &dst_node_id, 1, false, type, std::move(comment));
}

int MORV_NT::record_operation_from_many(const MORV_NT_NODE_ID_LIST* src_nodes_id, const MORV_NT_NODE_ID& dst_node_id,
                                        int type, std::string comment)
{
    MORV_ASSERT(src_nodes_id);
    MORV_ASSERT(!src_nodes_id->empty());
    return m_impl->record(src_nodes_id->data(), src_nodes_id->size(), &dst_node_id, 1, true, type, std::move(comment));
}

int MORV_NT::record_operation_to_many(const MORV_NT_NODE_ID& src_node_id, const MORV_NT_NODE_ID_LIST* dst_nodes_id,
                                      int type, std::string comment)
{
    MORV_ASSERT(dst_nodes_id);
    MORV_ASSERT(!dst_nodes_id->empty());
    return m_impl->record(&src_node_id, 1, dst_nodes_id->data(), dst_nodes_id->size(), true, type, std::move(comment));
}

const MORV_NT_NODE* MORV_NT::find_node(const MORV_NT_NODE_ID& id) const
{
    return m_impl->find_node(id);
}

bool MORV_NT::get_leaves_or_roots(const MORV_NT_NODE_ID& id, MORV_NT_NODE_ID_LIST* result, int leaves_or_roots) const
{
    return m_impl->get_leaves_or_roots(id, result, leaves_or_roots);
}

void MORV_NT::dump_to_file(const char* file_name) const
{
    MORV_ASSERT(file_name);
    MORV_DEBUG_STREAM::print(2, "Dumping NODE TRACK info to file < %s >", file_name);
    std::FILE* fp = std::fopen(file_name, "w");
    MORV_ASSERT(fp);
    m_impl->dump(fp);
    std::fclose(fp);
}
