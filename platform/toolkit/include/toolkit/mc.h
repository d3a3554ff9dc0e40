/* The DICOM toolkit: a C interface to messages, files, items and values.
 *
 * Every function returns an MC_STATUS; MC_NORMAL_COMPLETION (1) is success.
 * Ids (applications, messages, files, items) share one table of small
 * positive integers. Tags are 32 bits: group in the high half, element in
 * the low half. Nothing is thrown across this interface. */
#ifndef ZYL_TOOLKIT_MC_H
#define ZYL_TOOLKIT_MC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MC_EXPORT __attribute__((visibility("default")))
#else
#define MC_EXPORT
#endif

/* Statuses, with the texts MC_Error_Message gives for them. */
typedef enum MC_STATUS {
  MC_NORMAL_COMPLETION = 1,
  MC_ALREADY_REGISTERED = 4000,
  MC_ASSOCIATION_ABORTED = 4001,
  MC_ASSOCIATION_CLOSED = 4002,
  MC_ASSOCIATION_REJECTED = 4003,
  MC_ATTRIBUTE_HAS_VALUES = 4004,
  MC_BUFFER_TOO_SMALL = 4005,
  MC_CALLBACK_CANNOT_COMPLY = 4006,
  MC_CALLBACK_DATA_SIZE_NEGATIVE = 4007,
  MC_CALLBACK_DATA_SIZE_UNEVEN = 4008,
  MC_CALLBACK_PARM_ERROR = 4009,
  MC_CALLBACK_REGISTERED = 4010,
  MC_CANNOT_COMPLY = 4011,
  MC_CANT_ACCESS_PROFILE = 4012,
  MC_CONFIG_INFO_ERROR = 4013,
  MC_CONFIG_INFO_MISSING = 4014,
  MC_DDFILE_ERROR = 4015,
  MC_DOES_NOT_VALIDATE = 4016,
  MC_EMPTY_VALUE = 4017,
  MC_END_OF_DATA = 4018,
  MC_EXT_INFO_UNAVAILABLE = 4019,
  MC_FOUND = 4020,
  MC_FUNCTION_UNAVAILABLE = 4021,
  MC_INCOMPATIBLE_VR = 4022,
  MC_INCOMPATIBLE_VALUE = 4023,
  MC_INVALID_APPLICATION_ID = 4024,
  MC_INVALID_APPLICATION_TITLE = 4025,
  MC_INVALID_ASSOC_ID = 4026,
  MC_INVALID_CHARS_IN_VALUE = 4027,
  MC_INVALID_COMMAND = 4028,
  MC_INVALID_DATA_TYPE = 4029,
  MC_END_OF_LIST = 4030,
  MC_INVALID_GROUP = 4031,
  MC_INVALID_HOST_NAME = 4032,
  MC_INVALID_ITEM_ID = 4033,
  MC_INVALID_LENGTH_FOR_TITLE = 4034,
  MC_INVALID_LENGTH_FOR_VR = 4035,
  MC_LIMIT_EXCEEDED = 4036,
  MC_INVALID_MESSAGE_ID = 4037,
  MC_INVALID_MESSAGE_RECEIVED = 4038,
  MC_INVALID_PARAMETER_NAME = 4039,
  MC_INVALID_PORT_NUMBER = 4040,
  MC_INVALID_PRIVATE_CODE = 4041,
  MC_INVALID_SERVICE_LIST_NAME = 4042,
  MC_INVALID_TAG = 4043,
  MC_INVALID_TRANSFER_SYNTAX = 4044,
  MC_INVALID_VALUE_FOR_VR = 4045,
  MC_INVALID_VALUE_NUMBER = 4046,
  MC_INVALID_VR_CODE = 4047,
  MC_LOG_EMPTY = 4048,
  MC_MESSAGE_EMPTY = 4049,
  MC_MESSAGE_VALIDATES = 4050,
  MC_MISSING_CONFIG_PARM = 4051,
  MC_MSGFILE_ERROR = 4052,
  MC_MUST_BE_POSITIVE = 4053,
  MC_NETWORK_SHUT_DOWN = 4054,
  MC_NO_APPLICATIONS_REGISTERED = 4055,
  MC_NO_CALLBACK = 4056,
  MC_NO_CONDITION_FUNCTION = 4057,
  MC_NO_FILE_SYSTEM = 4058,
  MC_NO_INFO_REGISTERED = 4059,
  MC_NO_FREE_ID = 4060,
  MC_NO_MERGE_INI = 4061,
  MC_NO_MORE_ATTRIBUTES = 4062,
  MC_NO_MORE_VALUES = 4063,
  MC_NO_PROFILE = 4064,
  MC_NO_REQUEST_PENDING = 4065,
  MC_NON_SERVICE_ATTRIBUTE = 4066,
  MC_NOT_FOUND = 4067,
  MC_NOT_ONE_OF_ENUMERATED_VALUES = 4068,
  MC_NOT_ONE_OF_DEFINED_TERMS = 4069,
  MC_NULL_POINTER_PARM = 4071,
  MC_NULL_VALUE = 4072,
  MC_PROTOCOL_ERROR = 4073,
  MC_REQUIRED_ATTRIBUTE_MISSING = 4074,
  MC_REQUIRED_DATASET_MISSING = 4075,
  MC_REQUIRED_VALUE_MISSING = 4076,
  MC_STATE_VIOLATION = 4077,
  MC_SYSTEM_CALL_INTERRUPTED = 4078,
  MC_SYSTEM_ERROR = 4079,
  MC_TAG_ALREADY_EXISTS = 4080,
  MC_TEMP_FILE_ERROR = 4081,
  MC_TIMEOUT = 4082,
  MC_TOO_FEW_VALUES = 4083,
  MC_TOO_MANY_BLOCKS = 4084,
  MC_TOO_MANY_VALUES = 4085,
  MC_UNABLE_TO_CHECK_CONDITION = 4086,
  MC_UNACCEPTABLE_SERVICE = 4087,
  MC_UNEXPECTED_EOD = 4088,
  MC_UNKNOWN_ITEM = 4089,
  MC_UNKNOWN_SERVICE = 4090,
  MC_VALUE_MAY_NOT_BE_NULL = 4091,
  MC_VALUE_NOT_ALLOWED = 4092,
  MC_VALUE_OUT_OF_RANGE = 4093,
  MC_VALUE_TOO_LARGE = 4094,
  MC_VR_ALREADY_VALID = 4095,
  MC_LIBRARY_ALREADY_INITIALIZED = 4096,
  MC_LIBRARY_NOT_INITIALIZED = 4097,
  MC_INVALID_DIRECTORY_RECORD_OFFSET = 4098,
  MC_INVALID_FILE_ID = 4099,
  MC_INVALID_DICOMDIR_ID = 4100,
  MC_INVALID_ENTITY_ID = 4101,
  MC_INVALID_MRDR_ID = 4102,
  MC_UNABLE_TO_GET_ITEM_ID = 4103,
  MC_INVALID_PAD = 4104,
  MC_ENTITY_ALREADY_EXISTS = 4105,
  MC_INVALID_LOWER_DIR_RECORD = 4106,
  MC_BAD_DIR_RECORD_TYPE = 4107,
  MC_UNKNOWN_HOST_CONNECTED = 4108,
  MC_INACTIVITY_TIMEOUT = 4109,
  MC_INVALID_SOP_CLASS_UID = 4110,
  MC_INVALID_VERSION = 4111,
  MC_OUT_OF_ORDER_TAG = 4112,
  MC_CONNECTION_FAILED = 4113,
  MC_UNKNOWN_HOST_NAME = 4114,
  MC_INVALID_FILE = 4115,
  MC_NEGOTIATION_ABORTED = 4116,
  MC_INVALID_SR_ID = 4117,
  MC_UNABLE_TO_GET_SR_ID = 4118,
  MC_DUPLICATE_NAME = 4119,
  MC_DUPLICATE_SYNTAX = 4120,
  MC_EMPTY_LIST = 4121,
  MC_MISSING_NAME = 4122,
  MC_INVALID_SERVICE_NAME = 4123,
  MC_SERVICE_IN_USE = 4124,
  MC_INVALID_SYNTAX_NAME = 4125,
  MC_SYNTAX_IN_USE = 4126,
  MC_NO_CONTEXT = 4127,
  MC_OFFSET_TABLE_TOO_SHORT = 4128,
  MC_MISSING_DELIMITER = 4129,
  MC_COMPRESSION_FAILURE = 4130,
  MC_END_OF_FRAME = 4131,
  MC_MUST_CONTINUE_BEFORE_READING = 4132,
  MC_COMPRESSOR_REQUIRED = 4133,
  MC_DECOMPRESSOR_REQUIRED = 4134,
  MC_DATA_AVAILABLE = 4135,
  MC_ZLIB_ERROR = 4136,
  MC_NOT_META_SOP = 4137,
  MC_INVALID_ITEM_TRANSFER_SYNTAX = 4138,
  MC_NESTING_TOO_DEEP = 4139,
  MC_MAX_OPERATIONS_EXCEEDED = 4140,
  /* The codecs: the syntax cannot carry the pixel data unchanged (bit
   * depth or sign), or encapsulated pixel data cannot be decoded. */
  MC_INCOMPATIBLE_PIXEL_DATA = 4150,
  MC_DECOMPRESSION_FAILURE = 4151,
  MC_STATUS_RANGE = 0x7fffffff /* any int a caller passes is a value of the type */
} MC_STATUS;

/* Value representations, as codes. Codes 13, 14, 27 and 28 are unused; the
 * codes above 30 are representations that callers treat as unsupported. */
typedef enum MC_VR {
  MC_VR_AE = 0,
  MC_VR_AS = 1,
  MC_VR_CS = 2,
  MC_VR_DA = 3,
  MC_VR_DS = 4,
  MC_VR_DT = 5,
  MC_VR_IS = 6,
  MC_VR_LO = 7,
  MC_VR_LT = 8,
  MC_VR_PN = 9,
  MC_VR_SH = 10,
  MC_VR_ST = 11,
  MC_VR_TM = 12,
  MC_VR_UT = 15,
  MC_VR_UI = 16,
  MC_VR_SS = 17,
  MC_VR_US = 18,
  MC_VR_AT = 19,
  MC_VR_SL = 20,
  MC_VR_UL = 21,
  MC_VR_FL = 22,
  MC_VR_FD = 23,
  MC_VR_UN = 24,
  MC_VR_OB = 25,
  MC_VR_OW = 26,
  MC_VR_OF = 29,
  MC_VR_SQ = 30,
  MC_VR_OD = 31,
  MC_VR_OL = 32,
  MC_VR_UC = 33,
  MC_VR_UR = 34,
  MC_VR_OV = 35,
  MC_VR_SV = 36,
  MC_VR_UV = 37,
  MC_VR_UNKNOWN = -1,
  MC_VR_RANGE = 0x7fffffff /* any int a caller passes is a value of the type */
} MC_VR;

/* Transfer syntaxes by number. 100 to 130 are fixed; the numbers above 130
 * name the remaining encapsulated syntaxes the toolkit knows. */
typedef enum MC_TRANSFER_SYNTAX {
  MC_TS_INVALID = 0,
  MC_TS_IMPLICIT_LITTLE_ENDIAN = 100,
  MC_TS_EXPLICIT_LITTLE_ENDIAN = 101,
  MC_TS_EXPLICIT_BIG_ENDIAN = 102,
  MC_TS_IMPLICIT_BIG_ENDIAN = 103,
  MC_TS_DEFLATED_EXPLICIT_LITTLE_ENDIAN = 104,
  MC_TS_RLE = 105,
  MC_TS_JPEG_BASELINE = 106, /* process 1 */
  MC_TS_JPEG_EXTENDED_2_4 = 107,
  MC_TS_JPEG_EXTENDED_3_5 = 108,
  MC_TS_JPEG_SPECTRAL_NONHIER_6_8 = 109,
  MC_TS_JPEG_SPECTRAL_NONHIER_7_9 = 110,
  MC_TS_JPEG_FULL_NONHIER_10_12 = 111,
  MC_TS_JPEG_FULL_NONHIER_11_13 = 112,
  MC_TS_JPEG_LOSSLESS_NONHIER_14 = 113,
  MC_TS_JPEG_LOSSLESS_NONHIER_15 = 114,
  MC_TS_JPEG_EXTENDED_HIER_16_18 = 115,
  MC_TS_JPEG_EXTENDED_HIER_17_19 = 116,
  MC_TS_JPEG_SPECTRAL_HIER_20_22 = 117,
  MC_TS_JPEG_SPECTRAL_HIER_21_23 = 118,
  MC_TS_JPEG_FULL_HIER_24_26 = 119,
  MC_TS_JPEG_FULL_HIER_25_27 = 120,
  MC_TS_JPEG_LOSSLESS_HIER_28 = 121,
  MC_TS_JPEG_LOSSLESS_HIER_29 = 122,
  MC_TS_JPEG_LOSSLESS_SV1 = 123, /* process 14, selection value 1 */
  MC_TS_JPEG2000_LOSSLESS_ONLY = 124,
  MC_TS_JPEG2000 = 125,
  MC_TS_JPEG_LS_LOSSLESS = 126,
  MC_TS_JPEG_LS_LOSSY = 127,
  MC_TS_JPEG2000_MULTICOMPONENT_LOSSLESS_ONLY = 128,
  MC_TS_JPEG2000_MULTICOMPONENT = 129,
  MC_TS_PRIVATE_IMPLICIT_LE_BIG_ENDIAN_PIXELS = 130,
  MC_TS_JPIP_REFERENCED = 131,
  MC_TS_JPIP_REFERENCED_DEFLATE = 132,
  MC_TS_MPEG2_MAIN_PROFILE_MAIN_LEVEL = 133,
  MC_TS_MPEG2_MAIN_PROFILE_HIGH_LEVEL = 134,
  MC_TS_MPEG4_HIGH_PROFILE_4_1 = 135,
  MC_TS_MPEG4_BD_HIGH_PROFILE_4_1 = 136,
  MC_TS_MPEG4_HIGH_PROFILE_4_2_2D = 137,
  MC_TS_MPEG4_HIGH_PROFILE_4_2_3D = 138,
  MC_TS_MPEG4_STEREO_HIGH_PROFILE_4_2 = 139,
  MC_TS_HEVC_MAIN_PROFILE_5_1 = 140,
  MC_TS_HEVC_MAIN10_PROFILE_5_1 = 141,
  MC_TS_RANGE = 0x7fffffff /* any int a caller passes is a value of the type */
} MC_TRANSFER_SYNTAX;

/* Configuration values by number. */
typedef enum MC_CONFIG_PARAMETER {
  MC_CFG_IMPLEMENTATION_CLASS_UID = 13,
  MC_CFG_IMPLEMENTATION_VERSION = 14,
  MC_CFG_TCPIP_LISTEN_PORT = 25,
  /* Network time limits in seconds ([TRANSPORT_PARMS] of the profile). */
  MC_CFG_CONNECT_TIMEOUT = 40,     /* TCP connect of an outgoing association */
  MC_CFG_ASSOCIATION_TIMEOUT = 41, /* association answer, release, socket writes */
  MC_CFG_REQUEST_TIMEOUT = 42,     /* association request after a caller connects */
  /* Widens the type to every int, so that a number a caller passes that
     names no parameter is a value the type can hold. */
  MC_CFG_PARAMETER_RANGE = 0x7fffffff
} MC_CONFIG_PARAMETER;

/* DIMSE commands by value. */
typedef enum MC_COMMAND {
  MC_CMD_NONE = 0x0000,
  MC_CMD_C_STORE_RQ = 0x0001,
  MC_CMD_C_GET_RQ = 0x0010,
  MC_CMD_C_FIND_RQ = 0x0020,
  MC_CMD_C_MOVE_RQ = 0x0021,
  MC_CMD_C_ECHO_RQ = 0x0030,
  MC_CMD_C_CANCEL_RQ = 0x0FFF,
  MC_CMD_C_STORE_RSP = 0x8001,
  MC_CMD_C_GET_RSP = 0x8010,
  MC_CMD_C_FIND_RSP = 0x8020,
  MC_CMD_C_MOVE_RSP = 0x8021,
  MC_CMD_C_ECHO_RSP = 0x8030,
  MC_CMD_RANGE = 0x7fffffff /* any int a caller passes is a value of the type */
} MC_COMMAND;

/* ---- Callbacks ------------------------------------------------------- */

/* Supplies the bytes of a DICOM file: sets *dataSize, *dataBuffer (valid
 * until the next call) and *isLast. */
typedef MC_STATUS (*MC_File_Reader)(const char* fileName, void* userInfo, int* dataSize, void** dataBuffer, int isFirst,
                                    int* isLast);
/* Receives the encoded DICOM file in blocks. */
typedef MC_STATUS (*MC_File_Writer)(const char* fileName, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                                    int isLast);
/* Supplies the bytes of a raw data set for MC_Stream_To_Message. */
typedef MC_STATUS (*MC_Stream_Reader)(int messageId, void* userInfo, int isFirst, int* dataSize, void** dataBuffer,
                                      int* isLast);
/* Receives a value in pieces. */
typedef MC_STATUS (*MC_Value_Receiver)(int id, uint32_t tag, void* userInfo, int dataSize, void* dataBuffer,
                                       int isFirst, int isLast);
/* Supplies a value in pieces; each piece stays valid until the next call. */
typedef MC_STATUS (*MC_Value_Supplier)(int id, uint32_t tag, void* userInfo, int isFirst, int* dataSize,
                                       void** dataBuffer, int* isLast);
/* Compression callbacks registered on a message; they encode or decode one
 * frame at a time. The codec layer defines their work. */
typedef MC_STATUS (*MC_Compression_Callback)(int id, void** context, unsigned long inputLength, void* input,
                                             unsigned long* outputLength, void** output, int isFirst, int isLast,
                                             int release);

/* ---- Start-up and configuration -------------------------------------- */

MC_EXPORT const char* MC_Error_Message(MC_STATUS status);
/* The enumerator's name of a status ("MC_TIMEOUT"); NULL for codes without one. */
MC_EXPORT const char* MC_Status_Name(MC_STATUS status);
/* The display name of a transfer syntax number, with the leading space that
   messages and logs quote; numbers without a row of the toolkit's table have
   one name for all of them. Our addition: one table of names for the file
   object and the storage service. */
MC_EXPORT const char* MC_Transfer_Syntax_Name(MC_TRANSFER_SYNTAX syntax);
/* What a transfer syntax does to pixel data, and what the toolkit's codecs
   do with it (our addition: one table for the toolkit, the file object and
   the storage client). Deflate compresses the data set, not the pixels:
   native. "Other" is pixel data in a private order or not in the data set. */
typedef enum MC_PIXEL_CODING {
  MC_PIXELS_NATIVE = 0,
  MC_PIXELS_LOSSLESS = 1,
  MC_PIXELS_LOSSY = 2,
  MC_PIXELS_OTHER = 3
} MC_PIXEL_CODING;
typedef enum MC_CODEC_SUPPORT {
  MC_CODEC_NONE = 0,
  MC_CODEC_DECODES = 1,
  MC_CODEC_DECODES_AND_ENCODES = 2
} MC_CODEC_SUPPORT;
/* MC_INVALID_TRANSFER_SYNTAX for a number without a row. */
MC_EXPORT MC_STATUS MC_Get_Transfer_Syntax_Coding(MC_TRANSFER_SYNTAX syntax, MC_PIXEL_CODING* coding,
                                                  MC_CODEC_SUPPORT* codec);
/* The two letters of a value representation ("AE"); NULL for codes without
   one. And back: MC_VR_UNKNOWN for a name that is none. Our addition: one
   table of representations for the toolkit and the file object. */
MC_EXPORT const char* MC_VR_Name(MC_VR vr);
MC_EXPORT MC_VR MC_VR_From_Name(const char* name);
MC_EXPORT MC_STATUS MC_Set_MergeINI(const char* iniPath);
MC_EXPORT MC_STATUS MC_Library_Initialization(const void* reserved1, const void* reserved2, const void* reserved3);
MC_EXPORT MC_STATUS MC_Register_Application(int* applicationId, const char* applicationTitle);
MC_EXPORT MC_STATUS MC_Get_String_Config_Value(MC_CONFIG_PARAMETER parameter, int bufferSize, char* buffer);
MC_EXPORT MC_STATUS MC_Set_Int_Config_Value(MC_CONFIG_PARAMETER parameter, int value);
MC_EXPORT MC_STATUS MC_Cleanup_Memory(int timeoutSeconds);

/* ---- Services and transfer syntaxes ---------------------------------- */

MC_EXPORT MC_STATUS MC_Get_MergeCOM_Service(const char* sopClassUid, char* serviceName, int bufferSize);
MC_EXPORT MC_STATUS MC_Get_UID_From_MergeCOM_Service(const char* serviceName, char* uid, int bufferSize);
MC_EXPORT MC_STATUS MC_Get_Transfer_Syntax_From_Enum(MC_TRANSFER_SYNTAX syntax, char* uid, int bufferSize);
MC_EXPORT MC_STATUS MC_Get_Enum_From_Transfer_Syntax(const char* uid, MC_TRANSFER_SYNTAX* syntax);

/* ---- Messages, files, items ------------------------------------------ */

MC_EXPORT MC_STATUS MC_Open_Empty_Message(int* messageId);
MC_EXPORT MC_STATUS MC_Open_Message(int* messageId, const char* serviceName, MC_COMMAND command);
MC_EXPORT MC_STATUS MC_Set_Service_Command(int messageId, const char* serviceName, MC_COMMAND command);
MC_EXPORT MC_STATUS MC_Get_Service_Command(int messageId, char* serviceName, int bufferSize, MC_COMMAND* command);
MC_EXPORT MC_STATUS MC_Free_Message(int messageId);
MC_EXPORT MC_STATUS MC_Create_File(int* fileId, const char* fileName, const char* serviceName, MC_COMMAND command);
MC_EXPORT MC_STATUS MC_Create_Empty_File(int* fileId, const char* fileName);
MC_EXPORT MC_STATUS MC_Free_File(int fileId);
MC_EXPORT MC_STATUS MC_Reset_Filename(int fileId, const char* fileName);
MC_EXPORT MC_STATUS MC_Get_Filename(int fileId, char* fileName, int bufferSize);
MC_EXPORT MC_STATUS MC_Message_To_File(int messageId, const char* fileName);
MC_EXPORT MC_STATUS MC_File_To_Message(int fileId);
MC_EXPORT MC_STATUS MC_Open_Item(int* itemId, const char* itemName);
MC_EXPORT MC_STATUS MC_Free_Item(int itemId);
/* MC_NORMAL_COMPLETION when item `itemId` lies in the tree of message or
 * file `messageId`, else MC_INVALID_ITEM_ID. */
MC_EXPORT MC_STATUS MC_Check_Item_Owner(int messageId, int itemId);

/* Reads a DICOM file through the reader into the (empty) file object. */
MC_EXPORT MC_STATUS MC_Open_File(int applicationId, int fileId, void* userInfo, MC_File_Reader reader);
/* As MC_Open_File, stopping before the first top-level tag at or above stopTag. */
MC_EXPORT MC_STATUS MC_Open_File_Upto_Tag(int applicationId, int fileId, void* userInfo, uint32_t stopTag,
                                          MC_File_Reader reader);
/* Writes the file object as a DICOM file in the syntax its (0002,0010) names. */
MC_EXPORT MC_STATUS MC_Write_File(int fileId, void* userInfo, MC_File_Writer writer);
/* Reads a raw data set in the given syntax, keeping the top-level attributes
 * from startTag to stopTag inclusive. */
MC_EXPORT MC_STATUS MC_Stream_To_Message(int messageId, uint32_t startTag, uint32_t stopTag, MC_TRANSFER_SYNTAX syntax,
                                         void* userInfo, MC_Stream_Reader reader);
MC_EXPORT MC_STATUS MC_Get_Message_Transfer_Syntax(int messageId, MC_TRANSFER_SYNTAX* syntax);
MC_EXPORT MC_STATUS MC_Set_Message_Transfer_Syntax(int messageId, MC_TRANSFER_SYNTAX syntax);
MC_EXPORT MC_STATUS MC_Register_Compression_Callbacks(int messageId, MC_Compression_Callback compressor,
                                                      MC_Compression_Callback decompressor);

/* ---- Compressed pixel data -------------------------------------------- */

/* The callbacks to register for the five compressed syntaxes (JPEG Baseline,
 * JPEG Extended, JPEG Lossless SV1, JPEG 2000 lossless and lossy). Each call
 * turns one frame (input) into one frame (output, valid until the next call);
 * a call with release set frees *context. */
MC_EXPORT MC_STATUS MC_Standard_Compressor(int id, void** context, unsigned long inputLength, void* input,
                                           unsigned long* outputLength, void** output, int isFirst, int isLast,
                                           int release);
MC_EXPORT MC_STATUS MC_Standard_Decompressor(int id, void** context, unsigned long inputLength, void* input,
                                             unsigned long* outputLength, void** output, int isFirst, int isLast,
                                             int release);
/* Decodes the first frame of encapsulated Pixel Data to the receiver (first
 * and last flags per frame). MC_END_OF_FRAME while frames follow, then
 * MC_NORMAL_COMPLETION for the last one; Next continues with the following
 * frame and gives MC_NO_MORE_VALUES after the last. */
MC_EXPORT MC_STATUS MC_Get_Encapsulated_Value_To_Function(int id, uint32_t tag, void* userInfo,
                                                          MC_Value_Receiver receiver);
MC_EXPORT MC_STATUS MC_Get_Next_Encapsulated_Value_To_Function(int id, uint32_t tag, void* userInfo,
                                                               MC_Value_Receiver receiver);
/* Decodes frame `frame` (from 0) alone; Next then continues after it. */
MC_EXPORT MC_STATUS MC_Get_Encapsulated_Frame_To_Function(int id, uint32_t tag, unsigned int frame, void* userInfo,
                                                          MC_Value_Receiver receiver);
/* Compresses one frame of native pixels from the supplier in the message's
 * syntax; the first call starts the value, Next adds frames, Close installs
 * them (offset table, one frame per item) once Number of Frames are given. */
MC_EXPORT MC_STATUS MC_Set_Encapsulated_Value_From_Function(int id, uint32_t tag, void* userInfo,
                                                            MC_Value_Supplier supplier);
MC_EXPORT MC_STATUS MC_Set_Next_Encapsulated_Value_From_Function(int id, uint32_t tag, void* userInfo,
                                                                 MC_Value_Supplier supplier);
MC_EXPORT MC_STATUS MC_Close_Encapsulated_Value(int id, uint32_t tag);

/* ---- Network: service lists made at run time ---------------------------- */

/* A syntax list of `count` transfer syntaxes, no syntax twice. */
MC_EXPORT MC_STATUS MC_NewSyntaxList(const char* syntaxListName, const MC_TRANSFER_SYNTAX* syntaxes, int count);
/* A service named `name`: the toolkit service `serviceName` proposed with the
 * syntax list, asking for the SCU and/or SCP role (non-zero = requested). */
MC_EXPORT MC_STATUS MC_NewServiceFromName(const char* name, const char* serviceName, const char* syntaxListName,
                                          int scuRole, int scpRole);
/* A service list of `count` services made by MC_NewServiceFromName. */
MC_EXPORT MC_STATUS MC_NewProposedServiceList(const char* serviceListName, const char* const* serviceNames, int count);
MC_EXPORT MC_STATUS MC_FreeServiceList(const char* serviceListName);
MC_EXPORT MC_STATUS MC_FreeService(const char* name);
MC_EXPORT MC_STATUS MC_FreeSyntaxList(const char* syntaxListName);

/* ---- Network: associations ------------------------------------------- */

/* What MC_Get_Association_Info reports. On a requested association the
 * remote side is the called entity; on an accepted one, the calling entity. */
typedef struct MC_ASSOCIATION_INFO {
  char CallingApTitle[17];
  char CalledApTitle[17];
  char RemoteHostName[256];
  char RemoteIPAddress[64];
  int RemotePort;
  int LocalPort;
  char RemoteImplementationClassUID[65];
  char RemoteImplementationVersion[17];
  unsigned long MaxPduSize; /* largest PDU the peer accepts from us */
} MC_ASSOCIATION_INFO;

/* Reasons for MC_Reject_Association. */
typedef enum MC_REJECT_REASON {
  MC_REJECT_NO_REASON_GIVEN = 2, /* permanent, by the service user */
  MC_REJECT_APPLICATION_CONTEXT_NOT_SUPPORTED = 3,
  MC_REJECT_CALLING_AE_NOT_RECOGNIZED = 5,
  MC_REJECT_CALLED_AE_NOT_RECOGNIZED = 7,
  MC_REJECT_PROTOCOL_VERSION_NOT_SUPPORTED = 10,
  MC_REJECT_TEMPORARY_CONGESTION = 13, /* transient */
  MC_REJECT_LOCAL_LIMIT_EXCEEDED = 14, /* transient */
  MC_REJECT_RANGE = 0x7fffffff         /* any int a caller passes is a value of the type */
} MC_REJECT_REASON;

/* Requests an association with the remote entity at host:port, proposing one
 * presentation context per service of the list. Distinct failures:
 * MC_ASSOCIATION_REJECTED (the peer refused), MC_UNKNOWN_HOST_NAME,
 * MC_CONNECTION_FAILED (nothing listens on the port), MC_TIMEOUT. */
MC_EXPORT MC_STATUS MC_Open_Association(int applicationId, int* associationId, const char* remoteApTitle,
                                        int remotePort, const char* remoteHost, const char* serviceListName);
MC_EXPORT MC_STATUS MC_Get_Association_Info(int associationId, MC_ASSOCIATION_INFO* info);
/* Walks the accepted presentation contexts: the toolkit service name and the
 * transfer syntax of each; MC_END_OF_LIST after the last. */
MC_EXPORT MC_STATUS MC_Get_First_Acceptable_Service(int associationId, char* serviceName, int bufferSize,
                                                    MC_TRANSFER_SYNTAX* syntax);
MC_EXPORT MC_STATUS MC_Get_Next_Acceptable_Service(int associationId, char* serviceName, int bufferSize,
                                                   MC_TRANSFER_SYNTAX* syntax);
/* Releases the association (aborting when the peer does not answer) and frees its id. */
MC_EXPORT MC_STATUS MC_Close_Association(int associationId);
MC_EXPORT MC_STATUS MC_Abort_Association(int associationId);

/* Waits up to timeoutSeconds for an association on the listen port (value 25).
 * The called AE title chooses the registered application; the contexts are
 * negotiated against the service list. The association then waits for
 * MC_Accept_Association or MC_Reject_Association. MC_TIMEOUT when nobody
 * called; MC_UNKNOWN_HOST_CONNECTED when the called title is not registered
 * (the caller is rejected); MC_NEGOTIATION_ABORTED when the request failed or
 * the port cannot be opened. */
MC_EXPORT MC_STATUS MC_Wait_For_Association(const char* serviceListName, int timeoutSeconds, int* applicationId,
                                            int* associationId);
MC_EXPORT MC_STATUS MC_Accept_Association(int associationId);
MC_EXPORT MC_STATUS MC_Reject_Association(int associationId, MC_REJECT_REASON reason);

/* ---- Network: messages ----------------------------------------------- */

/* Sends a request on the context of its service, in the message's transfer
 * syntax (uncompressed syntaxes are converted to an accepted one). Command
 * fields set as group 0000 attributes of the message are sent with it; the
 * toolkit sets the message id. A C-CANCEL refers to the last request sent. */
MC_EXPORT MC_STATUS MC_Send_Request_Message(int associationId, int messageId);
/* Reads the next message: its id (free it with MC_Free_Message), its service
 * name (toolkit-owned text) and command. Its command fields are readable as
 * group 0000 attributes. MC_TIMEOUT after timeoutSeconds;
 * MC_ASSOCIATION_CLOSED when the peer released and MC_ASSOCIATION_ABORTED when
 * it aborted (both free the association id). */
MC_EXPORT MC_STATUS MC_Read_Message(int associationId, int timeoutSeconds, int* messageId, const char** serviceName,
                                    MC_COMMAND* command);
/* Answers the last request read on the association with `status`. */
MC_EXPORT MC_STATUS MC_Send_Response_Message(int associationId, unsigned int status, int messageId);

/* ---- Attributes ------------------------------------------------------ */

MC_EXPORT MC_STATUS MC_Add_Standard_Attribute(int id, uint32_t tag);
MC_EXPORT MC_STATUS MC_Get_Attribute_Info(int id, uint32_t tag, MC_VR* vr, int* valueCount);
MC_EXPORT MC_STATUS MC_Get_Value_Count(int id, uint32_t tag, int* valueCount);
MC_EXPORT MC_STATUS MC_Get_Value_Length(int id, uint32_t tag, int valueNumber, unsigned long* length);
MC_EXPORT MC_STATUS MC_Get_First_Attribute(int id, uint32_t* tag, MC_VR* vr, int* valueCount);
MC_EXPORT MC_STATUS MC_Get_Next_Attribute(int id, uint32_t* tag, MC_VR* vr, int* valueCount);
MC_EXPORT MC_STATUS MC_Get_Tag_Info(uint32_t tag, char* description, int bufferSize);

MC_EXPORT MC_STATUS MC_Get_Value_To_String(int id, uint32_t tag, int bufferSize, char* buffer);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_String(int id, uint32_t tag, int bufferSize, char* buffer);
MC_EXPORT MC_STATUS MC_Get_Value_To_Int(int id, uint32_t tag, int* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_Int(int id, uint32_t tag, int* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_UInt(int id, uint32_t tag, unsigned int* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_UInt(int id, uint32_t tag, unsigned int* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_ShortInt(int id, uint32_t tag, short* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_ShortInt(int id, uint32_t tag, short* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_LongInt(int id, uint32_t tag, long* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_LongInt(int id, uint32_t tag, long* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_ULongInt(int id, uint32_t tag, unsigned long* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_ULongInt(int id, uint32_t tag, unsigned long* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_Float(int id, uint32_t tag, float* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_Float(int id, uint32_t tag, float* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_Double(int id, uint32_t tag, double* value);
MC_EXPORT MC_STATUS MC_Get_Next_Value_To_Double(int id, uint32_t tag, double* value);
MC_EXPORT MC_STATUS MC_Get_Value_To_Buffer(int id, uint32_t tag, int bufferSize, void* buffer, int* bytesReturned);
MC_EXPORT MC_STATUS MC_Get_Value_To_Function(int id, uint32_t tag, void* userInfo, MC_Value_Receiver receiver);

MC_EXPORT MC_STATUS MC_Set_Value_From_String(int id, uint32_t tag, const char* value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_String(int id, uint32_t tag, const char* value);
MC_EXPORT MC_STATUS MC_Set_Value_From_Int(int id, uint32_t tag, int value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_Int(int id, uint32_t tag, int value);
MC_EXPORT MC_STATUS MC_Set_Value_From_ShortInt(int id, uint32_t tag, short value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_ShortInt(int id, uint32_t tag, short value);
MC_EXPORT MC_STATUS MC_Set_Value_From_UInt(int id, uint32_t tag, unsigned int value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_UInt(int id, uint32_t tag, unsigned int value);
MC_EXPORT MC_STATUS MC_Set_Value_From_LongInt(int id, uint32_t tag, long value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_LongInt(int id, uint32_t tag, long value);
MC_EXPORT MC_STATUS MC_Set_Value_From_ULongInt(int id, uint32_t tag, unsigned long value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_ULongInt(int id, uint32_t tag, unsigned long value);
MC_EXPORT MC_STATUS MC_Set_Value_From_Float(int id, uint32_t tag, float value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_Float(int id, uint32_t tag, float value);
MC_EXPORT MC_STATUS MC_Set_Value_From_Double(int id, uint32_t tag, double value);
MC_EXPORT MC_STATUS MC_Set_Next_Value_From_Double(int id, uint32_t tag, double value);
MC_EXPORT MC_STATUS MC_Set_Value_From_Buffer(int id, uint32_t tag, const void* buffer, int length);
MC_EXPORT MC_STATUS MC_Set_Value_From_Function(int id, uint32_t tag, void* userInfo, MC_Value_Supplier supplier);
MC_EXPORT MC_STATUS MC_Set_Value_To_NULL(int id, uint32_t tag);
MC_EXPORT MC_STATUS MC_Set_Value_To_Empty(int id, uint32_t tag);
MC_EXPORT MC_STATUS MC_Delete_Attribute(int id, uint32_t tag);

/* ---- Private attributes: (creator, odd group, element offset 0x00-0xFF) -- */

MC_EXPORT MC_STATUS MC_Add_Private_Block(int id, const char* creator, unsigned short group);
MC_EXPORT MC_STATUS MC_Delete_Private_Block(int id, const char* creator, unsigned short group);
MC_EXPORT MC_STATUS MC_Add_Private_Attribute(int id, const char* creator, unsigned short group, unsigned char element,
                                             MC_VR vr);
MC_EXPORT MC_STATUS MC_Get_pAttribute_Info(int id, const char* creator, unsigned short group, unsigned char element,
                                           MC_VR* vr, int* valueCount);
MC_EXPORT MC_STATUS MC_Get_pValue_Count(int id, const char* creator, unsigned short group, unsigned char element,
                                        int* valueCount);
MC_EXPORT MC_STATUS MC_Get_pValue_Length(int id, const char* creator, unsigned short group, unsigned char element,
                                         int valueNumber, unsigned long* length);
MC_EXPORT MC_STATUS MC_Get_pValue_To_String(int id, const char* creator, unsigned short group, unsigned char element,
                                            int bufferSize, char* buffer);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_String(int id, const char* creator, unsigned short group,
                                                 unsigned char element, int bufferSize, char* buffer);
MC_EXPORT MC_STATUS MC_Get_pValue_To_Int(int id, const char* creator, unsigned short group, unsigned char element,
                                         int* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_Int(int id, const char* creator, unsigned short group, unsigned char element,
                                              int* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_UInt(int id, const char* creator, unsigned short group, unsigned char element,
                                          unsigned int* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_UInt(int id, const char* creator, unsigned short group, unsigned char element,
                                               unsigned int* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_ShortInt(int id, const char* creator, unsigned short group, unsigned char element,
                                              short* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_ShortInt(int id, const char* creator, unsigned short group,
                                                   unsigned char element, short* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_LongInt(int id, const char* creator, unsigned short group, unsigned char element,
                                             long* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_LongInt(int id, const char* creator, unsigned short group,
                                                  unsigned char element, long* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_ULongInt(int id, const char* creator, unsigned short group, unsigned char element,
                                              unsigned long* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_ULongInt(int id, const char* creator, unsigned short group,
                                                   unsigned char element, unsigned long* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_Float(int id, const char* creator, unsigned short group, unsigned char element,
                                           float* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_Float(int id, const char* creator, unsigned short group,
                                                unsigned char element, float* value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_Double(int id, const char* creator, unsigned short group, unsigned char element,
                                            double* value);
MC_EXPORT MC_STATUS MC_Get_Next_pValue_To_Double(int id, const char* creator, unsigned short group,
                                                 unsigned char element, double* value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_String(int id, const char* creator, unsigned short group, unsigned char element,
                                              const char* value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_String(int id, const char* creator, unsigned short group,
                                                   unsigned char element, const char* value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_Int(int id, const char* creator, unsigned short group, unsigned char element,
                                           int value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_Int(int id, const char* creator, unsigned short group,
                                                unsigned char element, int value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_UInt(int id, const char* creator, unsigned short group, unsigned char element,
                                            unsigned int value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_UInt(int id, const char* creator, unsigned short group,
                                                 unsigned char element, unsigned int value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_ShortInt(int id, const char* creator, unsigned short group,
                                                unsigned char element, short value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_ShortInt(int id, const char* creator, unsigned short group,
                                                     unsigned char element, short value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_LongInt(int id, const char* creator, unsigned short group, unsigned char element,
                                               long value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_LongInt(int id, const char* creator, unsigned short group,
                                                    unsigned char element, long value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_ULongInt(int id, const char* creator, unsigned short group,
                                                unsigned char element, unsigned long value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_ULongInt(int id, const char* creator, unsigned short group,
                                                     unsigned char element, unsigned long value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_Float(int id, const char* creator, unsigned short group, unsigned char element,
                                             float value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_Float(int id, const char* creator, unsigned short group,
                                                  unsigned char element, float value);
MC_EXPORT MC_STATUS MC_Set_pValue_From_Double(int id, const char* creator, unsigned short group, unsigned char element,
                                              double value);
MC_EXPORT MC_STATUS MC_Set_Next_pValue_From_Double(int id, const char* creator, unsigned short group,
                                                   unsigned char element, double value);
MC_EXPORT MC_STATUS MC_Get_pValue_To_Buffer(int id, const char* creator, unsigned short group, unsigned char element,
                                            int bufferSize, void* buffer, int* bytesReturned);
MC_EXPORT MC_STATUS MC_Get_pValue_To_Function(int id, const char* creator, unsigned short group, unsigned char element,
                                              void* userInfo, MC_Value_Receiver receiver);
MC_EXPORT MC_STATUS MC_Set_pValue_From_Function(int id, const char* creator, unsigned short group,
                                                unsigned char element, void* userInfo, MC_Value_Supplier supplier);
MC_EXPORT MC_STATUS MC_Set_pValue_To_NULL(int id, const char* creator, unsigned short group, unsigned char element);
MC_EXPORT MC_STATUS MC_Set_pValue_To_Empty(int id, const char* creator, unsigned short group, unsigned char element);

#ifdef __cplusplus
}
#endif

#endif /* ZYL_TOOLKIT_MC_H */
