/* Velquor's error numbers: the one place each is written. The C API returns
 * them as result codes, the script functions raise them, and the DLL's
 * string table holds their texts under the same ids (the resource script
 * includes this file). Plain definitions only, for C, C++ and resource
 * scripts alike. */
#ifndef VELQUOR_ERRORS_H
#define VELQUOR_ERRORS_H

#define QRVTS_OK 0

/* 100 to 123: terminal-services operations and their arguments. */
#define QRVTS_INVALID_REQUEST 100
#define QRVTS_OUT_OF_MEMORY 101
#define QRVTS_NOT_ENABLED 102
#define QRVTS_OPEN_SERVER_FAILED 103
#define QRVTS_SESSION_ID_FAILED 104
#define QRVTS_INVALID_PROCESS_ID 105
#define QRVTS_ENUM_SESSIONS_FAILED 106
#define QRVTS_ENUM_PROCESSES_FAILED 107
#define QRVTS_INVALID_SESSION_ID 108
#define QRVTS_DISCONNECT_FAILED 109
#define QRVTS_LOGOFF_FAILED 110
#define QRVTS_TERMINATE_FAILED 111
#define QRVTS_INVALID_EXIT_CODE 112
#define QRVTS_SEND_MESSAGE_FAILED 113
#define QRVTS_INVALID_STYLE 114
#define QRVTS_INVALID_TIMEOUT 115
#define QRVTS_SESSION_INFO_FAILED 116
#define QRVTS_WAIT_FAILED 117
#define QRVTS_INVALID_EVENT_MASK 118
#define QRVTS_SHUTDOWN_FAILED 119
/* 120 to 123: what newer servers do. */
#define QRVTS_CONNECT_FAILED 120
#define QRVTS_REMOTE_CONTROL_FAILED 121
#define QRVTS_ENUM_SERVERS_FAILED 122
#define QRVTS_LOGON_MODE_FAILED 123

/* 900 to 910: invalid use and the interpreter's services. */
#define QRVTS_INVALID_PARAMETER 900
#define QRVTS_UNKNOWN_FUNCTION 901
#define QRVTS_NOT_IMPLEMENTED 902
#define QRVTS_NEED_NEWER_HOST 903
#define QRVTS_UNKNOWN_ERROR 904
#define QRVTS_INVALID_POINTER 905
#define QRVTS_BUFFER_TOO_SMALL 906
#define QRVTS_NOT_AVAILABLE 907
#define QRVTS_ARRAY_SERVICE_FAILED 908
#define QRVTS_VARIABLE_SERVICE_FAILED 909
#define QRVTS_BUFFER_SERVICE_FAILED 910

/* The string-table id of the extender's title. */
#define QRVTS_TITLE_STRING 1000

#endif /* VELQUOR_ERRORS_H */
