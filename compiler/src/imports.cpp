#include "imports.h"
