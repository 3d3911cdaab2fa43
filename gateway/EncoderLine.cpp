#include "gateway/EncoderLine.h"
