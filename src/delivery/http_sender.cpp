#include "delivery/http_sender.h"
