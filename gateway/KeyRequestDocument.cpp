#include "gateway/KeyRequestDocument.h"
