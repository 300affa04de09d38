#include "queue/queue_manager.h"
