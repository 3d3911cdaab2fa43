#include "gateway/Connection.h"
