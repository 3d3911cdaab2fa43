#include "gateway/SocketPlatform.h"
