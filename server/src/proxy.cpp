#include "proxy.h"
