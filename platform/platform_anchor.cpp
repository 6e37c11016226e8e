namespace morv_platform_anchor { int platform_anchor = 0; }
