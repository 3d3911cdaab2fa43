#include "gateway/Listener.h"
