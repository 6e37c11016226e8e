#include "cut/cut_atom_util.h"

#include <ostream>

#include "cdb/cdb_atom_netlist.h"

CDB_ATOM_LATCH_INFO* cut_get_atom_latch_info(const CDB_ATOM_NODE* node) { return node ? node->get_latch_info() : nullptr; }

void cut_set_atom_latch_info(CDB_ATOM_NODE* node, CDB_ATOM_LATCH_INFO* info) {
    if (node) node->set_latch_info(info);
}

bool CUT_ATOM_DUMPER::dump_current_atom_netlist(const CDB_ATOM_NETLIST* netlist, const std::string& file_name,
                                                std::string* error) {
    if (netlist == nullptr) {
        if (error) *error = "no atom netlist to dump";
        return false;
    }
    return cdb_write_native_netlist_file(*netlist, file_name, error);
}

void CUT_ATOM_DUMPER::dump_atom(const CDB_ATOM_NODE* node, std::ostream& out) {
    if (node == nullptr) {
        out << "<null atom>\n";
        return;
    }
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    out << "atom " << node->get_id() << " type " << node->get_atom_type() << " \""
        << (name ? name->get_short_hpath() : std::string()) << "\"\n";
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* t = *it;
        out << "  " << t->get_wysiwyg_port_name() << " <- ";
        if (const CDB_ATOM_OTERM* s = t->get_source())
            out << s->get_my_node()->get_id() << "." << s->get_wysiwyg_port_name();
        else if (t->is_vcc())
            out << "vcc";
        else if (t->is_gnd())
            out << "gnd";
        else
            out << "nil";
        out << (t->is_inverted() ? " (inverted)\n" : "\n");
    }
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        out << "  " << (*it)->get_wysiwyg_port_name() << " -> " << (*it)->get_number_of_fanout() << " sinks\n";
}
