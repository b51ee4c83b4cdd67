// The script functions' handlers: each validates its argument texts, does
// its work and ends the request with a value or an error number.
#pragma once
#include "extender/request.h"

int WtsVersion(Request& r);
int WtsLastErrMsg(Request& r);
int WtsIsTsEnabled(Request& r);
int WtsProcIdToSessId(Request& r);
int WtsDisconnectSession(Request& r);
int WtsLogoffSession(Request& r);
int WtsTerminateProcess(Request& r);
int WtsSendMessage(Request& r);
int WtsWaitSystemEvent(Request& r);
int WtsGetActiveConsoleSessId(Request& r);
int WtsShutdownSystem(Request& r);
int WtsTest(Request& r);
int WtsIsCitrixEnabled(Request& r);

// Those whose results are arrays and binary buffers.
int WtsVersionArray(Request& r);
int WtsVersionBuffer(Request& r);
int WtsEnumSessions(Request& r);
int WtsEnumProcesses(Request& r);
int WtsQuerySessionInfo(Request& r);
