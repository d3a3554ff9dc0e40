#include "tables.h"

#include <algorithm>
#include <array>
#include <string>

namespace zyl::toolkit::tables {
namespace {

constexpr StatusRow kStatuses[] = {
    {MC_NORMAL_COMPLETION, "MC_NORMAL_COMPLETION", "Normal completion"},
    {MC_ALREADY_REGISTERED, "MC_ALREADY_REGISTERED", "The application title is already registered"},
    {MC_ASSOCIATION_ABORTED, "MC_ASSOCIATION_ABORTED", "The association was aborted"},
    {MC_ASSOCIATION_CLOSED, "MC_ASSOCIATION_CLOSED", "The association was closed by the peer"},
    {MC_ASSOCIATION_REJECTED, "MC_ASSOCIATION_REJECTED", "The association was rejected by the peer"},
    {MC_ATTRIBUTE_HAS_VALUES, "MC_ATTRIBUTE_HAS_VALUES", "The attribute already has values"},
    {MC_BUFFER_TOO_SMALL, "MC_BUFFER_TOO_SMALL", "The buffer is too small for the value"},
    {MC_CALLBACK_CANNOT_COMPLY, "MC_CALLBACK_CANNOT_COMPLY", "A callback function could not comply"},
    {MC_CALLBACK_DATA_SIZE_NEGATIVE, "MC_CALLBACK_DATA_SIZE_NEGATIVE",
     "A callback function returned a negative data size"},
    {MC_CALLBACK_DATA_SIZE_UNEVEN, "MC_CALLBACK_DATA_SIZE_UNEVEN",
     "A callback function returned a data size that does not fit the value representation"},
    {MC_CALLBACK_PARM_ERROR, "MC_CALLBACK_PARM_ERROR", "A callback function returned invalid parameters"},
    {MC_CALLBACK_REGISTERED, "MC_CALLBACK_REGISTERED", "A callback function is already registered"},
    {MC_CANNOT_COMPLY, "MC_CANNOT_COMPLY", "Cannot comply"},
    {MC_CANT_ACCESS_PROFILE, "MC_CANT_ACCESS_PROFILE", "The toolkit profile cannot be read"},
    {MC_CONFIG_INFO_ERROR, "MC_CONFIG_INFO_ERROR", "Error in the toolkit configuration files"},
    {MC_CONFIG_INFO_MISSING, "MC_CONFIG_INFO_MISSING", "Configuration information is missing"},
    {MC_DDFILE_ERROR, "MC_DDFILE_ERROR", "The data dictionary cannot be loaded"},
    {MC_DOES_NOT_VALIDATE, "MC_DOES_NOT_VALIDATE", "The message does not validate"},
    {MC_EMPTY_VALUE, "MC_EMPTY_VALUE", "The attribute has no value"},
    {MC_END_OF_DATA, "MC_END_OF_DATA", "End of data"},
    {MC_EXT_INFO_UNAVAILABLE, "MC_EXT_INFO_UNAVAILABLE", "Extended information is not available"},
    {MC_FOUND, "MC_FOUND", "Found"},
    {MC_FUNCTION_UNAVAILABLE, "MC_FUNCTION_UNAVAILABLE", "The function is not available"},
    {MC_INCOMPATIBLE_VR, "MC_INCOMPATIBLE_VR", "The value representation does not allow this conversion"},
    {MC_INCOMPATIBLE_VALUE, "MC_INCOMPATIBLE_VALUE", "The value is not compatible with the attribute"},
    {MC_INVALID_APPLICATION_ID, "MC_INVALID_APPLICATION_ID", "Invalid application id"},
    {MC_INVALID_APPLICATION_TITLE, "MC_INVALID_APPLICATION_TITLE", "Invalid application title"},
    {MC_INVALID_ASSOC_ID, "MC_INVALID_ASSOC_ID", "Invalid association id"},
    {MC_INVALID_CHARS_IN_VALUE, "MC_INVALID_CHARS_IN_VALUE",
     "The value holds characters its value representation does not allow"},
    {MC_INVALID_COMMAND, "MC_INVALID_COMMAND", "Invalid command"},
    {MC_INVALID_DATA_TYPE, "MC_INVALID_DATA_TYPE", "Invalid data type"},
    {MC_END_OF_LIST, "MC_END_OF_LIST", "End of list"},
    {MC_INVALID_GROUP, "MC_INVALID_GROUP", "Invalid group, or no private block of that creator in the group"},
    {MC_INVALID_HOST_NAME, "MC_INVALID_HOST_NAME", "Invalid host name"},
    {MC_INVALID_ITEM_ID, "MC_INVALID_ITEM_ID", "Invalid item id"},
    {MC_INVALID_LENGTH_FOR_TITLE, "MC_INVALID_LENGTH_FOR_TITLE", "Invalid length for an application title"},
    {MC_INVALID_LENGTH_FOR_VR, "MC_INVALID_LENGTH_FOR_VR", "Invalid value length for the value representation"},
    {MC_LIMIT_EXCEEDED, "MC_LIMIT_EXCEEDED", "The input exceeds a limit of the toolkit (value length or size)"},
    {MC_INVALID_MESSAGE_ID, "MC_INVALID_MESSAGE_ID", "Invalid message id"},
    {MC_INVALID_MESSAGE_RECEIVED, "MC_INVALID_MESSAGE_RECEIVED", "An invalid message was received"},
    {MC_INVALID_PARAMETER_NAME, "MC_INVALID_PARAMETER_NAME", "Invalid configuration parameter"},
    {MC_INVALID_PORT_NUMBER, "MC_INVALID_PORT_NUMBER", "Invalid port number"},
    {MC_INVALID_PRIVATE_CODE, "MC_INVALID_PRIVATE_CODE", "Invalid private creator code"},
    {MC_INVALID_SERVICE_LIST_NAME, "MC_INVALID_SERVICE_LIST_NAME", "Invalid service list name"},
    {MC_INVALID_TAG, "MC_INVALID_TAG", "The attribute is not present, or the tag is not valid here"},
    {MC_INVALID_TRANSFER_SYNTAX, "MC_INVALID_TRANSFER_SYNTAX", "Invalid or unsupported transfer syntax"},
    {MC_INVALID_VALUE_FOR_VR, "MC_INVALID_VALUE_FOR_VR", "The value is not valid for the value representation"},
    {MC_INVALID_VALUE_NUMBER, "MC_INVALID_VALUE_NUMBER", "Invalid value number"},
    {MC_INVALID_VR_CODE, "MC_INVALID_VR_CODE", "Invalid value representation code"},
    {MC_LOG_EMPTY, "MC_LOG_EMPTY", "The log is empty"},
    {MC_MESSAGE_EMPTY, "MC_MESSAGE_EMPTY", "The message has no attributes"},
    {MC_MESSAGE_VALIDATES, "MC_MESSAGE_VALIDATES", "The message validates"},
    {MC_MISSING_CONFIG_PARM, "MC_MISSING_CONFIG_PARM", "A configuration parameter is missing"},
    {MC_MSGFILE_ERROR, "MC_MSGFILE_ERROR", "The message information file cannot be read"},
    {MC_MUST_BE_POSITIVE, "MC_MUST_BE_POSITIVE", "The value must be positive"},
    {MC_NETWORK_SHUT_DOWN, "MC_NETWORK_SHUT_DOWN", "The network was shut down"},
    {MC_NO_APPLICATIONS_REGISTERED, "MC_NO_APPLICATIONS_REGISTERED", "No applications are registered"},
    {MC_NO_CALLBACK, "MC_NO_CALLBACK", "No callback function was given"},
    {MC_NO_CONDITION_FUNCTION, "MC_NO_CONDITION_FUNCTION", "No condition function"},
    {MC_NO_FILE_SYSTEM, "MC_NO_FILE_SYSTEM", "No file system"},
    {MC_NO_INFO_REGISTERED, "MC_NO_INFO_REGISTERED", "No information is registered"},
    {MC_NO_FREE_ID, "MC_NO_FREE_ID", "No free id is left in the id table"},
    {MC_NO_MERGE_INI, "MC_NO_MERGE_INI", "The toolkit initialisation file cannot be read"},
    {MC_NO_MORE_ATTRIBUTES, "MC_NO_MORE_ATTRIBUTES", "No more attributes"},
    {MC_NO_MORE_VALUES, "MC_NO_MORE_VALUES", "No more values"},
    {MC_NO_PROFILE, "MC_NO_PROFILE", "The toolkit profile is missing"},
    {MC_NO_REQUEST_PENDING, "MC_NO_REQUEST_PENDING", "No request is pending"},
    {MC_NON_SERVICE_ATTRIBUTE, "MC_NON_SERVICE_ATTRIBUTE", "The attribute is not part of the service"},
    {MC_NOT_FOUND, "MC_NOT_FOUND", "Not found"},
    {MC_NOT_ONE_OF_ENUMERATED_VALUES, "MC_NOT_ONE_OF_ENUMERATED_VALUES",
     "The value is not one of the enumerated values"},
    {MC_NOT_ONE_OF_DEFINED_TERMS, "MC_NOT_ONE_OF_DEFINED_TERMS", "The value is not one of the defined terms"},
    {MC_NULL_POINTER_PARM, "MC_NULL_POINTER_PARM", "A required pointer argument is null"},
    {MC_NULL_VALUE, "MC_NULL_VALUE", "The attribute has a zero-length value"},
    {MC_PROTOCOL_ERROR, "MC_PROTOCOL_ERROR", "DICOM protocol error"},
    {MC_REQUIRED_ATTRIBUTE_MISSING, "MC_REQUIRED_ATTRIBUTE_MISSING", "A required attribute is missing"},
    {MC_REQUIRED_DATASET_MISSING, "MC_REQUIRED_DATASET_MISSING", "A required data set is missing"},
    {MC_REQUIRED_VALUE_MISSING, "MC_REQUIRED_VALUE_MISSING", "A required value is missing"},
    {MC_STATE_VIOLATION, "MC_STATE_VIOLATION", "The call is not allowed in the current state"},
    {MC_SYSTEM_CALL_INTERRUPTED, "MC_SYSTEM_CALL_INTERRUPTED", "A system call was interrupted"},
    {MC_SYSTEM_ERROR, "MC_SYSTEM_ERROR", "System error"},
    {MC_TAG_ALREADY_EXISTS, "MC_TAG_ALREADY_EXISTS", "The attribute already exists"},
    {MC_TEMP_FILE_ERROR, "MC_TEMP_FILE_ERROR", "Temporary file error"},
    {MC_TIMEOUT, "MC_TIMEOUT", "Timeout"},
    {MC_TOO_FEW_VALUES, "MC_TOO_FEW_VALUES", "Too few values"},
    {MC_TOO_MANY_BLOCKS, "MC_TOO_MANY_BLOCKS", "No free private block is left in the group"},
    {MC_TOO_MANY_VALUES, "MC_TOO_MANY_VALUES", "Too many values for the attribute"},
    {MC_UNABLE_TO_CHECK_CONDITION, "MC_UNABLE_TO_CHECK_CONDITION", "Unable to check the condition"},
    {MC_UNACCEPTABLE_SERVICE, "MC_UNACCEPTABLE_SERVICE", "The service is not acceptable"},
    {MC_UNEXPECTED_EOD, "MC_UNEXPECTED_EOD", "Unexpected end of data"},
    {MC_UNKNOWN_ITEM, "MC_UNKNOWN_ITEM", "Unknown item"},
    {MC_UNKNOWN_SERVICE, "MC_UNKNOWN_SERVICE", "Unknown service"},
    {MC_VALUE_MAY_NOT_BE_NULL, "MC_VALUE_MAY_NOT_BE_NULL", "The value may not be null"},
    {MC_VALUE_NOT_ALLOWED, "MC_VALUE_NOT_ALLOWED", "The value is not allowed"},
    {MC_VALUE_OUT_OF_RANGE, "MC_VALUE_OUT_OF_RANGE",
     "The value is out of range for the value representation or the result type"},
    {MC_VALUE_TOO_LARGE, "MC_VALUE_TOO_LARGE", "The value is too large"},
    {MC_VR_ALREADY_VALID, "MC_VR_ALREADY_VALID", "The value representation is already valid"},
    {MC_LIBRARY_ALREADY_INITIALIZED, "MC_LIBRARY_ALREADY_INITIALIZED", "The toolkit is already initialised"},
    {MC_LIBRARY_NOT_INITIALIZED, "MC_LIBRARY_NOT_INITIALIZED", "The toolkit is not initialised"},
    {MC_INVALID_DIRECTORY_RECORD_OFFSET, "MC_INVALID_DIRECTORY_RECORD_OFFSET", "Invalid directory record offset"},
    {MC_INVALID_FILE_ID, "MC_INVALID_FILE_ID", "Invalid file id"},
    {MC_INVALID_DICOMDIR_ID, "MC_INVALID_DICOMDIR_ID", "Invalid DICOMDIR id"},
    {MC_INVALID_ENTITY_ID, "MC_INVALID_ENTITY_ID", "Invalid entity id"},
    {MC_INVALID_MRDR_ID, "MC_INVALID_MRDR_ID", "Invalid multi-referenced directory record id"},
    {MC_UNABLE_TO_GET_ITEM_ID, "MC_UNABLE_TO_GET_ITEM_ID", "Unable to get an item id"},
    {MC_INVALID_PAD, "MC_INVALID_PAD", "Invalid padding"},
    {MC_ENTITY_ALREADY_EXISTS, "MC_ENTITY_ALREADY_EXISTS", "The entity already exists"},
    {MC_INVALID_LOWER_DIR_RECORD, "MC_INVALID_LOWER_DIR_RECORD", "Invalid lower directory record"},
    {MC_BAD_DIR_RECORD_TYPE, "MC_BAD_DIR_RECORD_TYPE", "Bad directory record type"},
    {MC_UNKNOWN_HOST_CONNECTED, "MC_UNKNOWN_HOST_CONNECTED", "An unknown host connected"},
    {MC_INACTIVITY_TIMEOUT, "MC_INACTIVITY_TIMEOUT", "Inactivity timeout"},
    {MC_INVALID_SOP_CLASS_UID, "MC_INVALID_SOP_CLASS_UID", "Invalid or unknown SOP class UID"},
    {MC_INVALID_VERSION, "MC_INVALID_VERSION", "Invalid version"},
    {MC_OUT_OF_ORDER_TAG, "MC_OUT_OF_ORDER_TAG", "Attribute out of order"},
    {MC_CONNECTION_FAILED, "MC_CONNECTION_FAILED", "The connection failed"},
    {MC_UNKNOWN_HOST_NAME, "MC_UNKNOWN_HOST_NAME", "Unknown host name"},
    {MC_INVALID_FILE, "MC_INVALID_FILE", "The data is not a valid DICOM file"},
    {MC_NEGOTIATION_ABORTED, "MC_NEGOTIATION_ABORTED", "The association negotiation was aborted"},
    {MC_INVALID_SR_ID, "MC_INVALID_SR_ID", "Invalid structured report id"},
    {MC_UNABLE_TO_GET_SR_ID, "MC_UNABLE_TO_GET_SR_ID", "Unable to get a structured report id"},
    {MC_DUPLICATE_NAME, "MC_DUPLICATE_NAME", "Duplicate name"},
    {MC_DUPLICATE_SYNTAX, "MC_DUPLICATE_SYNTAX", "Duplicate transfer syntax"},
    {MC_EMPTY_LIST, "MC_EMPTY_LIST", "The list is empty"},
    {MC_MISSING_NAME, "MC_MISSING_NAME", "A name is missing"},
    {MC_INVALID_SERVICE_NAME, "MC_INVALID_SERVICE_NAME", "Invalid service name"},
    {MC_SERVICE_IN_USE, "MC_SERVICE_IN_USE", "The service is in use"},
    {MC_INVALID_SYNTAX_NAME, "MC_INVALID_SYNTAX_NAME", "Invalid syntax list name"},
    {MC_SYNTAX_IN_USE, "MC_SYNTAX_IN_USE", "The syntax list is in use"},
    {MC_NO_CONTEXT, "MC_NO_CONTEXT", "No presentation context"},
    {MC_OFFSET_TABLE_TOO_SHORT, "MC_OFFSET_TABLE_TOO_SHORT", "The offset table is too short"},
    {MC_MISSING_DELIMITER, "MC_MISSING_DELIMITER", "A delimiter is missing"},
    {MC_COMPRESSION_FAILURE, "MC_COMPRESSION_FAILURE", "Compression failed"},
    {MC_END_OF_FRAME, "MC_END_OF_FRAME", "End of frame"},
    {MC_MUST_CONTINUE_BEFORE_READING, "MC_MUST_CONTINUE_BEFORE_READING",
     "The current value must be finished before reading"},
    {MC_COMPRESSOR_REQUIRED, "MC_COMPRESSOR_REQUIRED", "A compressor is required"},
    {MC_DECOMPRESSOR_REQUIRED, "MC_DECOMPRESSOR_REQUIRED", "A decompressor is required for encapsulated data"},
    {MC_DATA_AVAILABLE, "MC_DATA_AVAILABLE", "Data is available"},
    {MC_ZLIB_ERROR, "MC_ZLIB_ERROR", "Deflate (zlib) error"},
    {MC_NOT_META_SOP, "MC_NOT_META_SOP", "Not a meta SOP class"},
    {MC_INVALID_ITEM_TRANSFER_SYNTAX, "MC_INVALID_ITEM_TRANSFER_SYNTAX", "Invalid transfer syntax for the item"},
    {MC_NESTING_TOO_DEEP, "MC_NESTING_TOO_DEEP", "Sequences are nested deeper than the toolkit accepts"},
    {MC_MAX_OPERATIONS_EXCEEDED, "MC_MAX_OPERATIONS_EXCEEDED", "Maximum number of operations exceeded"},
    {MC_INCOMPATIBLE_PIXEL_DATA, "MC_INCOMPATIBLE_PIXEL_DATA",
     "The transfer syntax cannot carry the pixel data without changing it (bit depth or sign)"},
    {MC_DECOMPRESSION_FAILURE, "MC_DECOMPRESSION_FAILURE",
     "The compressed pixel data is malformed or truncated and cannot be decoded"},
};

constexpr VrRow kVrs[] = {
    {MC_VR_AE, EVR_AE, "AE"}, {MC_VR_AS, EVR_AS, "AS"}, {MC_VR_CS, EVR_CS, "CS"}, {MC_VR_DA, EVR_DA, "DA"},
    {MC_VR_DS, EVR_DS, "DS"}, {MC_VR_DT, EVR_DT, "DT"}, {MC_VR_IS, EVR_IS, "IS"}, {MC_VR_LO, EVR_LO, "LO"},
    {MC_VR_LT, EVR_LT, "LT"}, {MC_VR_PN, EVR_PN, "PN"}, {MC_VR_SH, EVR_SH, "SH"}, {MC_VR_ST, EVR_ST, "ST"},
    {MC_VR_TM, EVR_TM, "TM"}, {MC_VR_UT, EVR_UT, "UT"}, {MC_VR_UI, EVR_UI, "UI"}, {MC_VR_SS, EVR_SS, "SS"},
    {MC_VR_US, EVR_US, "US"}, {MC_VR_AT, EVR_AT, "AT"}, {MC_VR_SL, EVR_SL, "SL"}, {MC_VR_UL, EVR_UL, "UL"},
    {MC_VR_FL, EVR_FL, "FL"}, {MC_VR_FD, EVR_FD, "FD"}, {MC_VR_UN, EVR_UN, "UN"}, {MC_VR_OB, EVR_OB, "OB"},
    {MC_VR_OW, EVR_OW, "OW"}, {MC_VR_OF, EVR_OF, "OF"}, {MC_VR_SQ, EVR_SQ, "SQ"}, {MC_VR_OD, EVR_OD, "OD"},
    {MC_VR_OL, EVR_OL, "OL"}, {MC_VR_UC, EVR_UC, "UC"}, {MC_VR_UR, EVR_UR, "UR"}, {MC_VR_OV, EVR_OV, "OV"},
    {MC_VR_SV, EVR_SV, "SV"}, {MC_VR_UV, EVR_UV, "UV"},
};

// Display names as messages and logs quote them (with their leading space).
constexpr SyntaxRow kSyntaxes[] = {
    {MC_TS_IMPLICIT_LITTLE_ENDIAN, EXS_LittleEndianImplicit, " Implicit VR Little Endian", MC_PIXELS_NATIVE},
    {MC_TS_EXPLICIT_LITTLE_ENDIAN, EXS_LittleEndianExplicit, " Explicit VR Little Endian", MC_PIXELS_NATIVE},
    {MC_TS_EXPLICIT_BIG_ENDIAN, EXS_BigEndianExplicit, " Explicit VR Big Endian", MC_PIXELS_NATIVE},
    {MC_TS_IMPLICIT_BIG_ENDIAN, EXS_BigEndianImplicit, " Implicit VR Big Endian", MC_PIXELS_NATIVE},
    {MC_TS_DEFLATED_EXPLICIT_LITTLE_ENDIAN, EXS_DeflatedLittleEndianExplicit, " Deflated Explicit VR Little Endian",
     MC_PIXELS_NATIVE},
    {MC_TS_RLE, EXS_RLELossless, " RLE", MC_PIXELS_LOSSLESS, MC_CODEC_DECODES},
    {MC_TS_JPEG_BASELINE, EXS_JPEGProcess1, " JPEG Baseline", MC_PIXELS_LOSSY, MC_CODEC_DECODES_AND_ENCODES},
    {MC_TS_JPEG_EXTENDED_2_4, EXS_JPEGProcess2_4, " JPEG Extended (2 & 4)", MC_PIXELS_LOSSY,
     MC_CODEC_DECODES_AND_ENCODES},
    {MC_TS_JPEG_EXTENDED_3_5, EXS_JPEGProcess3_5, " JPEG Extended (3 & 5)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_SPECTRAL_NONHIER_6_8, EXS_JPEGProcess6_8, " JPEG Spectral, Non-Hier (6 & 8)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_SPECTRAL_NONHIER_7_9, EXS_JPEGProcess7_9, " JPEG Spectral, Non-Hier (7 & 9)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_FULL_NONHIER_10_12, EXS_JPEGProcess10_12, " JPEG Full, Non-Hier (10 & 12)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_FULL_NONHIER_11_13, EXS_JPEGProcess11_13, " JPEG Full, Non-Hier (11 & 13)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_LOSSLESS_NONHIER_14, EXS_JPEGProcess14, " JPEG Lossless, Non-Hier (14)", MC_PIXELS_LOSSLESS},
    {MC_TS_JPEG_LOSSLESS_NONHIER_15, EXS_JPEGProcess15, " JPEG Lossless, Non-Hier (15)", MC_PIXELS_LOSSLESS},
    {MC_TS_JPEG_EXTENDED_HIER_16_18, EXS_JPEGProcess16_18, " JPEG Extended, Hier (16 & 18)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_EXTENDED_HIER_17_19, EXS_JPEGProcess17_19, " JPEG Extended, Hier (17 & 19)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_SPECTRAL_HIER_20_22, EXS_JPEGProcess20_22, " JPEG Spectral, Hier (20 & 22)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_SPECTRAL_HIER_21_23, EXS_JPEGProcess21_23, " JPEG Spectral, Hier (21 & 23)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_FULL_HIER_24_26, EXS_JPEGProcess24_26, " JPEG Full, Hier (24 & 26)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_FULL_HIER_25_27, EXS_JPEGProcess25_27, " JPEG Full, Hier (25 & 27)", MC_PIXELS_LOSSY},
    {MC_TS_JPEG_LOSSLESS_HIER_28, EXS_JPEGProcess28, " JPEG Lossless, Hier (28)", MC_PIXELS_LOSSLESS},
    {MC_TS_JPEG_LOSSLESS_HIER_29, EXS_JPEGProcess29, " JPEG Lossless, Hier (29)", MC_PIXELS_LOSSLESS},
    {MC_TS_JPEG_LOSSLESS_SV1, EXS_JPEGProcess14SV1, " JPEG Lossless, Non-Hier (1st)", MC_PIXELS_LOSSLESS,
     MC_CODEC_DECODES_AND_ENCODES},
    {MC_TS_JPEG2000_LOSSLESS_ONLY, EXS_JPEG2000LosslessOnly, " JPEG 2000 Lossless", MC_PIXELS_LOSSLESS,
     MC_CODEC_DECODES_AND_ENCODES},
    {MC_TS_JPEG2000, EXS_JPEG2000, " JPEG 2000", MC_PIXELS_LOSSY, MC_CODEC_DECODES_AND_ENCODES},
    {MC_TS_JPEG_LS_LOSSLESS, EXS_JPEGLSLossless, " JPEG-LS Lossless", MC_PIXELS_LOSSLESS, MC_CODEC_DECODES},
    {MC_TS_JPEG_LS_LOSSY, EXS_JPEGLSLossy, " JPEG-LS Near-Lossless", MC_PIXELS_LOSSY, MC_CODEC_DECODES},
    {MC_TS_JPEG2000_MULTICOMPONENT_LOSSLESS_ONLY, EXS_JPEG2000MulticomponentLosslessOnly, nullptr, MC_PIXELS_LOSSLESS},
    {MC_TS_JPEG2000_MULTICOMPONENT, EXS_JPEG2000Multicomponent, " Private Syntax 1", MC_PIXELS_LOSSY},
    {MC_TS_PRIVATE_IMPLICIT_LE_BIG_ENDIAN_PIXELS, EXS_PrivateGE_LEI_WithBigEndianPixelData, " Private Syntax 2",
     MC_PIXELS_OTHER},
    {MC_TS_JPIP_REFERENCED, EXS_JPIPReferenced, nullptr, MC_PIXELS_OTHER},
    {MC_TS_JPIP_REFERENCED_DEFLATE, EXS_JPIPReferencedDeflate, nullptr, MC_PIXELS_OTHER},
    {MC_TS_MPEG2_MAIN_PROFILE_MAIN_LEVEL, EXS_MPEG2MainProfileAtMainLevel, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG2_MAIN_PROFILE_HIGH_LEVEL, EXS_MPEG2MainProfileAtHighLevel, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG4_HIGH_PROFILE_4_1, EXS_MPEG4HighProfileLevel4_1, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG4_BD_HIGH_PROFILE_4_1, EXS_MPEG4BDcompatibleHighProfileLevel4_1, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG4_HIGH_PROFILE_4_2_2D, EXS_MPEG4HighProfileLevel4_2_For2DVideo, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG4_HIGH_PROFILE_4_2_3D, EXS_MPEG4HighProfileLevel4_2_For3DVideo, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_MPEG4_STEREO_HIGH_PROFILE_4_2, EXS_MPEG4StereoHighProfileLevel4_2, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_HEVC_MAIN_PROFILE_5_1, EXS_HEVCMainProfileLevel5_1, nullptr, MC_PIXELS_LOSSY},
    {MC_TS_HEVC_MAIN10_PROFILE_5_1, EXS_HEVCMain10ProfileLevel5_1, nullptr, MC_PIXELS_LOSSY},
};

constexpr ConfigRow kConfig[] = {
    {MC_CFG_IMPLEMENTATION_CLASS_UID, "ASSOC_PARMS", "IMPLEMENTATION_CLASS_UID", ConfigType::String,
     "2.25.18621328157339787642210104787852623083"},
    {MC_CFG_IMPLEMENTATION_VERSION, "ASSOC_PARMS", "IMPLEMENTATION_VERSION", ConfigType::String, "ZYL_TOOLKIT_010"},
    {MC_CFG_TCPIP_LISTEN_PORT, "TRANSPORT_PARMS", "TCPIP_LISTEN_PORT", ConfigType::Integer, "104"},
    {MC_CFG_CONNECT_TIMEOUT, "TRANSPORT_PARMS", "CONNECT_TIMEOUT", ConfigType::Integer, "10"},
    {MC_CFG_ASSOCIATION_TIMEOUT, "TRANSPORT_PARMS", "ASSOCIATION_TIMEOUT", ConfigType::Integer, "15"},
    {MC_CFG_REQUEST_TIMEOUT, "TRANSPORT_PARMS", "REQUEST_TIMEOUT", ConfigType::Integer, "3"},
};

}  // namespace

const StatusRow* findStatus(int code) {
  auto it =
      std::find_if(std::begin(kStatuses), std::end(kStatuses), [code](const StatusRow& r) { return r.status == code; });
  return it == std::end(kStatuses) ? nullptr : it;
}

std::span<const VrRow> vrs() { return kVrs; }

MC_VR vrFromDcmtk(DcmEVR evr) {
  switch (evr) {  // DCMTK's internal and ambiguous representations
    case EVR_ox:
    case EVR_px:
      return MC_VR_OW;
    case EVR_xs:
      return MC_VR_US;
    case EVR_lt:
      return MC_VR_OW;
    case EVR_up:
      return MC_VR_UL;
    case EVR_pixelSQ:
      return MC_VR_OB;
    case EVR_UNKNOWN:
    case EVR_UNKNOWN2B:
      return MC_VR_UN;
    default:
      break;
  }
  for (const auto& r : kVrs)
    if (r.dcmtk == evr) return r.code;
  return MC_VR_UNKNOWN;
}

std::optional<DcmEVR> dcmtkFromVr(MC_VR code) {
  for (const auto& r : kVrs)
    if (r.code == code) return r.dcmtk;
  return std::nullopt;
}

const SyntaxRow* findSyntax(MC_TRANSFER_SYNTAX number) {
  for (const auto& r : kSyntaxes)
    if (r.number == number) return &r;
  return nullptr;
}

std::optional<E_TransferSyntax> dcmtkFromSyntax(MC_TRANSFER_SYNTAX number) {
  if (const SyntaxRow* row = findSyntax(number)) return row->dcmtk;
  return std::nullopt;
}

const char* syntaxName(MC_TRANSFER_SYNTAX number) {
  const SyntaxRow* row = findSyntax(number);
  return row && row->name ? row->name : " Unknown Transfer Syntax";
}

std::optional<MC_TRANSFER_SYNTAX> syntaxFromDcmtk(E_TransferSyntax xfer) {
  for (const auto& r : kSyntaxes)
    if (r.dcmtk == xfer) return r.number;
  return std::nullopt;
}

std::optional<MC_TRANSFER_SYNTAX> syntaxFromUid(std::string_view uid) {
  // Values read from files may carry a trailing pad.
  while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.remove_suffix(1);
  // DCMTK's look-up also takes a syntax's name, and its empty UID for
  // implicit big endian: only a UID of its table names a syntax.
  const DcmXfer xfer(std::string(uid).c_str());
  if (uid.empty() || xfer.getXfer() == EXS_Unknown || uid != xfer.getXferID()) return std::nullopt;
  return syntaxFromDcmtk(xfer.getXfer());
}

std::span<const ConfigRow> configValues() { return kConfig; }

const ConfigRow* findConfig(int number) {
  for (const auto& r : kConfig)
    if (r.number == number) return &r;
  return nullptr;
}

}  // namespace zyl::toolkit::tables
