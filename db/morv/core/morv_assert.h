#pragma once
// The component's invariant checks (MORV_ASSERT, MORV_ASSERT_TEXT) are shared
// with the containers in h/, which define them.

#include "morv_assert_sys.h"
