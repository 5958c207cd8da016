// The platform contract: everything the engine needs from the operating system.
// Only code under src/platform/ includes system headers; the rest of the engine
// includes this header (or one of the units below) and nothing else of the OS.
#pragma once

#include "platform/codepage.h"
#include "platform/local_time.h"
#include "platform/owner_queue.h"
#include "platform/random.h"
#include "platform/resolver.h"
#include "platform/sockets.h"
#include "platform/ticks.h"
#include "platform/worker_thread.h"
