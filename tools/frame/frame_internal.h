// Routines shared between the frame's own files; not for the tools.
#ifndef QEL_TOOL_FRAME_INTERNAL_H
#define QEL_TOOL_FRAME_INTERNAL_H

#include "tool_frame.h"

/* Prints the template ("%s" = port name) unless silent, and flushes. */
void qel_tool_print_port_line(TS_QEL_TOOL_RUN* psRun, const char* pszTemplate);

#endif
