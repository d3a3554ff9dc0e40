#!/usr/bin/python3
"""Decodes a compressed DICOM file with pydicom and one of its pixel data
plug-ins, and writes what pydicom decoded as an uncompressed file, so that a
test can compare pixels. Usage: pydicom_decode.py gdcm|pillow IN OUT.
Exit status 3: the plug-in is not installed; 4: it does not take this syntax."""
import sys

import pydicom
from pydicom.uid import ExplicitVRLittleEndian

plugin_name, source, target = sys.argv[1:4]
try:
    if plugin_name == "gdcm":
        from pydicom.pixel_data_handlers import gdcm_handler as plugin
    else:
        from pydicom.pixel_data_handlers import pillow_handler as plugin
except ImportError:
    sys.exit(3)
if not plugin.is_available():
    sys.exit(3)

pydicom.config.pixel_data_handlers = [plugin]
ds = pydicom.dcmread(source)
if not plugin.supports_transfer_syntax(ds.file_meta.TransferSyntaxUID):
    sys.exit(4)
try:
    pixels = ds.pixel_array
except NotImplementedError as error:
    print(error, file=sys.stderr)
    sys.exit(4)

# The array is colour-by-pixel and never subsampled; the photometric
# interpretation says what the plug-in left the colours in.
ds.PixelData = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
ds["PixelData"].VR = "OB" if ds.BitsAllocated <= 8 else "OW"
if "SamplesPerPixel" in ds and ds.SamplesPerPixel > 1:
    ds.PlanarConfiguration = 0
    if ds.PhotometricInterpretation == "YBR_FULL_422":
        ds.PhotometricInterpretation = "YBR_FULL"
    elif ds.PhotometricInterpretation in ("YBR_RCT", "YBR_ICT"):
        # JPEG 2000 decoders undo their colour transform themselves.
        ds.PhotometricInterpretation = "RGB"
ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds.is_little_endian = True
ds.is_implicit_VR = False
ds.save_as(target, write_like_original=False)
