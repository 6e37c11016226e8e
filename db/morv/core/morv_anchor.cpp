namespace morv_anchor { int component_anchor = 0; }
