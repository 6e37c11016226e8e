// Every slip the family-knowledge check must report, one per line, in the
// order its test expects them.
bool a(int base_family) { return base_family == 24; }
int b(int base_family) { switch (base_family) { case 6: return 1; default: return 0; } }
int c(int code) { switch (code) { case 9: case 35: return 1; default: return 0; } }
bool d(API* api) { return api->has_migratable_part_of_family(41); }
int e(API* api) { return api->get_int_option(566); }
// reads project setting 634.
bool f(int effort) { return effort == 81; }
