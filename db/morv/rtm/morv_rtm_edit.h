#pragma once

// The two connection edits the demuxer and the splitter are made of, each
// announced to the facade and written to the change log while it is on.

class MORV_API;
class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;

// Announced before it is made; the term keeps its properties.
void morv_rtm_disconnect(MORV_API* api, CDB_ATOM_ITERM* iterm);
// Connects a free term to source and announces it.
void morv_rtm_connect(MORV_API* api, CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm);
// The term leaves its source (if any) for `source`.
void morv_rtm_move_iterm(MORV_API* api, CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* source);
// A new cell takes the LAB of the cell it was made for (kept off the
// outermost column and row, as classic retiming places its cells), when that
// one has a location on the chip map. Called before the cell is announced:
// the timing estimate and the host's placement of the cell both start from
// this location.
void morv_rtm_place_like(MORV_API* api, CDB_ATOM_NODE* node, CDB_ATOM_NODE* origin);
