#include "gateway/KeyRequestHandler.h"
