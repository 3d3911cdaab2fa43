#include "gateway/LockLink.h"
