#include "cli/definitions.h"
