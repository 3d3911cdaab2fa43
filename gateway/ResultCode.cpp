#include "gateway/ResultCode.h"
