#include "gateway/KeyAnswer.h"
