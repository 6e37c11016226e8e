namespace morv_host_anchor { int host_anchor = 0; }
