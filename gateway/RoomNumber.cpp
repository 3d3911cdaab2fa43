#include "gateway/RoomNumber.h"
