#include "gateway/DateTimeConversion.h"
