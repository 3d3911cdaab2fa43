#include "gateway/Gateway.h"
