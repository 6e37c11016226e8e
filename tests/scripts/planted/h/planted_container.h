#pragma once
#include "morv/core/morv_assert.h"
