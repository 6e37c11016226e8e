// The facade is header-only; this unit checks that the header stands alone.
#include "cmp/cmp_facade.h"
