// Everything the program calls of its windowing platform.
#pragma once

#include "platform/capture.h"
#include "platform/clipboard.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/resources.h"
#include "platform/sockets.h"
#include "platform/sound.h"
#include "platform/threads.h"
#include "platform/types.h"
#include "platform/window.h"
