#pragma once
// Broken invariants of the component and of its shared containers go to the
// host's internal-error service with the failed condition, the module tag,
// file and line; the report does not return. The containers below the
// component use it too, so it lives with them.

#include "msg/msg.h"

#define MORV_ASSERT(cond)                                                                                              \
    do {                                                                                                               \
        if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, "MORV", __FILE__, __LINE__);                                    \
    } while (0)

// For conditions whose reported text must differ from the expression
// checked (for example a text shared with other modules).
#define MORV_ASSERT_TEXT(cond, text)                                                                                   \
    do {                                                                                                               \
        if (!(cond)) MSG_INTERNAL_ERROR::report((text), "MORV", __FILE__, __LINE__);                                   \
    } while (0)
