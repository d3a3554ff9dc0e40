// The tags the module and the service name in their code, as the toolkit's
// calls take them: (group << 16) | element.
#pragma once

#include <cstdint>

namespace zyl::tags {

// Command elements.
inline constexpr std::uint32_t kMoveDestination = 0x00000600;
inline constexpr std::uint32_t kStatus = 0x00000900;
inline constexpr std::uint32_t kAffectedSopInstanceUid = 0x00001000;
inline constexpr std::uint32_t kCompletedSubOperations = 0x00001021;

// The file meta group.
inline constexpr std::uint32_t kMetaVersion = 0x00020001;
inline constexpr std::uint32_t kMediaSopClassUid = 0x00020002;
inline constexpr std::uint32_t kMediaSopInstanceUid = 0x00020003;
inline constexpr std::uint32_t kTransferSyntaxUid = 0x00020010;
inline constexpr std::uint32_t kImplementationClassUid = 0x00020012;
inline constexpr std::uint32_t kImplementationVersionName = 0x00020013;
inline constexpr std::uint32_t kSourceAeTitle = 0x00020016;

// Identification, patient, study and series.
inline constexpr std::uint32_t kImageType = 0x00080008;
inline constexpr std::uint32_t kSopClassUid = 0x00080016;
inline constexpr std::uint32_t kSopInstanceUid = 0x00080018;
inline constexpr std::uint32_t kStudyDate = 0x00080020;
inline constexpr std::uint32_t kStudyTime = 0x00080030;
inline constexpr std::uint32_t kAccessionNumber = 0x00080050;
inline constexpr std::uint32_t kQueryRetrieveLevel = 0x00080052;
inline constexpr std::uint32_t kModality = 0x00080060;
inline constexpr std::uint32_t kStudyDescription = 0x00081030;
inline constexpr std::uint32_t kSeriesDescription = 0x0008103E;
inline constexpr std::uint32_t kPatientName = 0x00100010;
inline constexpr std::uint32_t kPatientId = 0x00100020;
inline constexpr std::uint32_t kStudyInstanceUid = 0x0020000D;
inline constexpr std::uint32_t kSeriesInstanceUid = 0x0020000E;
inline constexpr std::uint32_t kStudyId = 0x00200010;
inline constexpr std::uint32_t kSeriesNumber = 0x00200011;
inline constexpr std::uint32_t kInstanceNumber = 0x00200013;

// The image.
inline constexpr std::uint32_t kSamplesPerPixel = 0x00280002;
inline constexpr std::uint32_t kPhotometricInterpretation = 0x00280004;
inline constexpr std::uint32_t kPlanarConfiguration = 0x00280006;
inline constexpr std::uint32_t kNumberOfFrames = 0x00280008;
inline constexpr std::uint32_t kRows = 0x00280010;
inline constexpr std::uint32_t kColumns = 0x00280011;
inline constexpr std::uint32_t kBitsAllocated = 0x00280100;
inline constexpr std::uint32_t kPixelRepresentation = 0x00280103;
inline constexpr std::uint32_t kLossyImageCompression = 0x00282110;
inline constexpr std::uint32_t kPixelDataGroupLength = 0x7FE00000;
inline constexpr std::uint32_t kPixelData = 0x7FE00010;

}  // namespace zyl::tags
