#include "core/proxy.h"
