#include "tovix/version.h"
