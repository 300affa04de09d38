#include "queue/event_queue_file.h"
