// The fakes live in the header; this unit keeps the targets that list it building.
#include "fakes/fake_platform.h"
