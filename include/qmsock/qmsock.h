// The public C++ API of qmsock: the library core, its owner-thread loop calls and the host variant.
#pragma once

#include "qmsock/loop.h"
#include "qmsock/sock_lib.h"
