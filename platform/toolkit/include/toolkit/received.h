/* Receiving a message whose data set goes into a file as it arrives: the
 * toolkit's own addition to the MC_ calls, for a storage service. */
#ifndef ZYL_TOOLKIT_RECEIVED_H
#define ZYL_TOOLKIT_RECEIVED_H

#include "toolkit/mc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called once the command and the head of the data set (its attributes up to
 * the SOP Instance UID) are in the message. Returning MC_NORMAL_COMPLETION
 * means: the message has been made a file (MC_Message_To_File) whose meta
 * group is set, and the data set is to be written into it. Any other status:
 * the rest of the data set is read, checked and discarded. */
typedef MC_STATUS (*ZYL_Received_Head)(int messageId, void* userInfo);

/* MC_Read_Message, except for the data set of a message: it is read up to
 * the SOP Instance UID into the message and shown to `onHead`; if that takes
 * it, the writer receives the file: preamble, meta group and the data set as
 * it arrived (top-level command fields and a trailing pad byte left out,
 * standard attributes sent as UN with their own VR where that changes no
 * length around them), the last block marked. The rest of the data set is
 * checked as it passes (element, sequence and item structure, lengths,
 * nesting), not parsed; a data set that fails the check aborts the
 * association as in MC_Read_Message. A deflated data set is read whole and
 * written as MC_Write_File writes it. `*written` is MC_NORMAL_COMPLETION when
 * the whole file went to the writer, else why not. The message is the
 * caller's when the call succeeds, and freed by the toolkit otherwise. */
MC_EXPORT MC_STATUS ZYL_Read_Message_To_File(int associationId, int timeoutSeconds, int* messageId,
                                             const char** serviceName, MC_COMMAND* command, void* userInfo,
                                             ZYL_Received_Head onHead, MC_File_Writer writer, MC_STATUS* written);

#ifdef __cplusplus
}
#endif

#endif
