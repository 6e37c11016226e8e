#include "host/host_env.h"
