#include "cut/cut_atom_util.h"

#include <ostream>

#include "cdb/cdb_atom_netlist.h"

std::string cut_atom_label(const CDB_ATOM_NODE* node)
{
    std::string s = "atom " + std::to_string(node->get_id());
    if (node->get_instance_name()) s += " '" + node->get_instance_name()->get_short_hpath() + "'";
    return s;
}

CDB_ATOM_LATCH_INFO* cut_get_atom_latch_info(const CDB_ATOM_NODE* node)
{
    return node ? node->get_latch_info() : nullptr;
}

void cut_set_atom_latch_info(CDB_ATOM_NODE* node, CDB_ATOM_LATCH_INFO* info)
{
    if (node) node->set_latch_info(info);
}

bool cut_sanity_check_atom_latch_info(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    if (info == nullptr || !info->is_latch) return false;
    if (info->output_port == DB_MAX_OUTPUT_PORT_TYPE || node->get_output_term_by_type(info->output_port) == nullptr)
        return false;
    if (info->enable_port == DB_MAX_INPUT_PORT_TYPE || node->get_input_term_by_type(info->enable_port) == nullptr)
        return false;
    if (info->enable_mode != CDB_LATCH_ENABLE_MODE_NON_INVERTED && info->enable_mode != CDB_LATCH_ENABLE_MODE_INVERTED)
        return false;
    for (int port : {info->clear_port, info->preset_port, info->feedback_port})
        if (port != DB_MAX_INPUT_PORT_TYPE && node->get_input_term_by_type(port) == nullptr) return false;
    return true;
}

bool CUT_ATOM_DUMPER::dump_current_atom_netlist(const CDB_ATOM_NETLIST* netlist, const std::string& file_name,
                                                std::string* error)
{
    if (netlist == nullptr) {
        if (error) *error = "no atom netlist to dump";
        return false;
    }
    return cdb_write_native_netlist_file(*netlist, file_name, error);
}

void CUT_ATOM_DUMPER::dump_atom(const CDB_ATOM_NODE* node, std::ostream& out)
{
    if (node == nullptr) {
        out << "<null atom>\n";
        return;
    }
    // Sections are indented by a tab and their lines by two; fields within a
    // line are separated by tabs.
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    out << "atom " << node->get_id() << "\ttype " << node->get_atom_type() << "\t\""
        << (name ? name->get_short_hpath() : std::string()) << "\"\n";
    out << "\tlocation\t" << node->get_lab_x() << "\t" << node->get_lab_y() << "\t" << node->get_sub_location() << "\n";
    out << "\tinputs\n";
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* t = *it;
        out << "\t\t" << t->get_wysiwyg_port_name() << "\t<- ";
        if (const CDB_ATOM_OTERM* s = t->get_source())
            out << s->get_my_node()->get_id() << "." << s->get_wysiwyg_port_name();
        else if (t->is_vcc()) out << "vcc";
        else if (t->is_gnd()) out << "gnd";
        else out << "nil";
        out << (t->is_inverted() ? "\t(inverted)\n" : "\n");
    }
    out << "\toutputs\n";
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        out << "\t\t" << (*it)->get_wysiwyg_port_name() << "\t-> " << (*it)->get_number_of_fanout() << " sinks\n";
}
