#include "core/events.h"
