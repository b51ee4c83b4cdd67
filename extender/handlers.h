// Script functions whose results are arrays and binary buffers.
#pragma once
#include "extender/request.h"

int WtsVersionArray(Request& r);
int WtsVersionBuffer(Request& r);
int WtsEnumSessions(Request& r);
int WtsEnumProcesses(Request& r);
int WtsQuerySessionInfo(Request& r);
