#include "style/style.h"
