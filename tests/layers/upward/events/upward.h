// An include that goes up: the check must name this line.
#include "core/tracking_manager.h"
