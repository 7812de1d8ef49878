#include "apps/service/core/data_locations.h"
