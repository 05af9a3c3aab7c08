#include "core/channel.h"
