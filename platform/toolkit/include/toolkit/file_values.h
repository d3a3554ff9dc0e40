/* Opening a DICOM file by its path with its long values left in the file
 * until they are used: the toolkit's own addition to the MC_ calls, for
 * reading a few attributes or one frame of a large file, and sending a file
 * without holding its pixel data twice. */
#ifndef ZYL_TOOLKIT_FILE_VALUES_H
#define ZYL_TOOLKIT_FILE_VALUES_H

#include "toolkit/mc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* MC_Open_File for the file at `path`, with the same checks and limits,
 * except that a value longer than `leaveAbove` bytes stays in the file: it is
 * read when first used, whole or the part asked for, and only from the same
 * file unchanged since the open (else that use fails). MC_Write_File reads
 * every value left in the file first, so that the object may be written over
 * its own file. An odd-length file is read as it is, not padded. */
MC_EXPORT MC_STATUS ZYL_Open_File_Leaving_Values(int applicationId, int fileId, const char* path, uint32_t leaveAbove);

/* MC_Get_Value_To_Function for the bytes of a value from `offset` on, at most
 * `length` of them: those of the range the value holds, in pieces, the last
 * one marked (one empty piece when it holds none). A value of bytes, words or
 * numbers of one size (OB, OW, OF, OD, OL, OV, UN) is read a piece at a time,
 * from its file when it was left there, never whole. Fragments are refused
 * with MC_DECOMPRESSOR_REQUIRED. */
MC_EXPORT MC_STATUS ZYL_Get_Value_Range_To_Function(int id, uint32_t tag, uint64_t offset, uint64_t length,
                                                    void* userInfo, MC_Value_Receiver receiver);

#ifdef __cplusplus
}
#endif

#endif
