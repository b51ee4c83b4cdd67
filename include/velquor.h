/* Velquor: the QRVTS_ programming interface for terminal services.
 *
 * Every function is __stdcall and exported by its decorated name
 * (_QRVTS_OpenServer@8 and so on). Link against libvelquor.dll.a, or look
 * the functions up with GetProcAddress under their decorated names. */
#ifndef VELQUOR_H
#define VELQUOR_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QRVTS_CALL __stdcall

/* Terminal Services presence. */
BOOL QRVTS_CALL QRVTS_ValidateProductSuite(LPCSTR suiteName);
BOOL QRVTS_CALL QRVTS_IsTerminalServiceProductPresent(void);

#ifdef __cplusplus
}
#endif

#endif /* VELQUOR_H */
