#include "channel.h"
