#include "data/StatusText.h"

QString StatusText;
