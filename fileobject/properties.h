// The file object's properties: names for the most used image attributes
// (and for the object's own file name, pixel data flag and transfer syntax),
// read with GetProperty, written with SetProperty and tested with QueryValue.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvo::file {

enum class PropertyKind {
  Attribute,       // an attribute of the top-level data set
  FileName,        // ORVOFILENAME
  NoPixelData,     // ORVONOPIXELDATA
  TransferSyntax,  // (0002,0010) with the syntax's name
};

struct Property {
  const char* keyword;  // as GetProperty and SetProperty take it
  PropertyKind kind;
  const char* tag;    // tag string; nullptr when the property is no attribute
  const char* setVr;  // VR SetProperty writes with; nullptr when it cannot be set
};

// In keyword order, which is the order both methods handle their keywords in.
inline constexpr std::array<Property, 22> kProperties{{
    {"BITS_ALLOCATED", PropertyKind::Attribute, "0028,0100", "US"},
    {"BITS_STORED", PropertyKind::Attribute, "0028,0101", "US"},
    {"COLUMNS", PropertyKind::Attribute, "0028,0011", "US"},
    {"FILENAME", PropertyKind::FileName, nullptr, nullptr},
    {"HIGH_BIT", PropertyKind::Attribute, "0028,0102", "US"},
    {"IMAGE_TYPE", PropertyKind::Attribute, "0008,0008", "CS"},
    {"INSTANCE_NUMBER", PropertyKind::Attribute, "0020,0013", "IS"},
    {"MODALITY", PropertyKind::Attribute, "0008,0060", "CS"},
    {"NO_PIXEL_DATA", PropertyKind::NoPixelData, nullptr, nullptr},
    {"NUMBER_OF_FRAMES", PropertyKind::Attribute, "0028,0008", "IS"},
    {"PHOTOMETRIC_INTERPRETATION", PropertyKind::Attribute, "0028,0004", "CS"},
    {"PIXEL_ASPECT_RATIO", PropertyKind::Attribute, "0028,0034", "IS"},
    {"PIXEL_MAX", PropertyKind::Attribute, "0028,0107", "US"},
    {"PIXEL_MIN", PropertyKind::Attribute, "0028,0106", "US"},
    {"PIXEL_REPRESENTATION", PropertyKind::Attribute, "0028,0103", "US"},
    {"PIXEL_SPACING", PropertyKind::Attribute, "0028,0030", "DS"},
    {"PLANAR_CONFIGURATION", PropertyKind::Attribute, "0028,0006", "US"},
    {"ROWS", PropertyKind::Attribute, "0028,0010", "US"},
    {"SAMPLES_PER_PIXEL", PropertyKind::Attribute, "0028,0002", "US"},
    {"SOP_CLASS_UID", PropertyKind::Attribute, "0008,0016", "UI"},
    {"SOP_INSTANCE_UID", PropertyKind::Attribute, "0008,0018", "UI"},
    {"TRANSFER_SYNTAX", PropertyKind::TransferSyntax, "0002,0010", nullptr},
}};

// The property of a name, in any case; nullopt for other names.
std::optional<Property> propertyNamed(std::string_view name);

}  // namespace orvo::file
