"""The outside reference of the corpus test: for every file of a folder that
both dcmdump and pydicom read, every attribute as pydicom reads it, and the
Pixel Data of each frame as pydicom decodes it with GDCM (RLE with pydicom's
own RLE handler, which GDCM's plug-in does not take).

One line per fact, tab-separated:
  F <file>                                  a file both references read
  E <path> <tag> <VR> <kind> <payload>      one attribute
  P <frame> <bytes> <hash>                  one frame of Pixel Data
  X <reason>                                pixels pydicom cannot give
<path> is "-" at the top level, else "tag/index" steps joined by ".".
Kinds: T texts (hex of each value, ","-joined), N numbers (","-joined),
B binary (length:hash of the bytes in host order), S sequence (item count).
The hash is 64-bit FNV-1a, as the test computes it.
"""
import os
import subprocess
import sys
import warnings

import numpy
import pydicom
from pydicom.pixel_data_handlers import gdcm_handler, numpy_handler, rle_handler

warnings.simplefilter("ignore")
pydicom.config.pixel_data_handlers = [numpy_handler, gdcm_handler, rle_handler]

TEXT = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH", "ST", "TM", "UI", "UC", "UR", "UT"}
NUMBERS = {"US", "SS", "UL", "SL", "FL", "FD", "SV", "UV", "AT"}
WORDS = {"OW": 2, "OF": 4, "OL": 4, "OD": 8, "OV": 8}


def fnv(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def texts(elem, encodings):
    value = elem.value
    values = list(value) if isinstance(value, (list, pydicom.multival.MultiValue)) else [value]
    out = []
    for v in values:
        if v is None:
            v = ""
        s = getattr(v, "original_string", None)
        if s is None:
            s = v
        if isinstance(s, bytes):
            s = s.decode("latin-1")
        s = str(s)
        # The bytes as stored: pydicom's text encoded back in the file's character set.
        out.append(pydicom.charset.encode_string(s.strip(" \0"), encodings).hex())
    return ",".join(out)


def numbers(elem):
    value = elem.value
    values = list(value) if isinstance(value, (list, pydicom.multival.MultiValue)) else [value]
    return ",".join(repr(int(v)) if elem.VR != "FL" and elem.VR != "FD" else repr(float(v)) for v in values)


def binary(elem, big_endian):
    data = bytes(elem.value or b"")
    unit = WORDS.get(elem.VR, 1)
    if big_endian and unit > 1 and len(data) % unit == 0:
        data = numpy.frombuffer(data, dtype=">u%d" % unit).astype("<u%d" % unit).tobytes()
    return "%d:%s" % (len(data), fnv(data))


def elements(dataset, path, big_endian, out, encodings=("iso8859",)):
    for elem in dataset:
        if elem.tag == 0x7FE00010 and not path:
            continue  # Pixel Data: compared frame by frame
        vr = str(getattr(elem.VR, "value", elem.VR))
        tag = "%08x" % elem.tag
        if elem.value is None or (vr != "SQ" and elem.value in ("", b"", [])):
            out.append("E\t%s\t%s\t%s\tZ\t" % (path or "-", tag, vr))
        elif vr == "SQ":
            out.append("E\t%s\t%s\tSQ\tS\t%d" % (path or "-", tag, len(elem.value)))
            for i, item in enumerate(elem.value):
                elements(item, (path + "." if path else "") + "%s/%d" % (tag, i), big_endian, out, encodings)
        elif vr in TEXT:
            out.append("E\t%s\t%s\t%s\tT\t%s" % (path or "-", tag, vr, texts(elem, encodings)))
        elif vr in NUMBERS:
            out.append("E\t%s\t%s\t%s\tN\t%s" % (path or "-", tag, vr, numbers(elem)))
        else:
            out.append("E\t%s\t%s\t%s\tB\t%s" % (path or "-", tag, vr, binary(elem, big_endian)))


def pixels(ds, out):
    try:
        frames = int(ds.get("NumberOfFrames", 1) or 1)
        array = ds.pixel_array
    except Exception as e:  # noqa: BLE001 - the reason is the reference's answer
        out.append("X\t%s" % str(e).splitlines()[0][:200])
        return
    if frames == 1:
        array = array[numpy.newaxis, ...]
    samples = int(ds.get("SamplesPerPixel", 1))
    for f in range(frames):
        frame = array[f]
        if samples > 1 and int(ds.get("PlanarConfiguration", 0)) == 1:
            frame = numpy.moveaxis(frame, -1, 0)
        data = numpy.ascontiguousarray(frame).astype(frame.dtype.newbyteorder("<")).tobytes()
        out.append("P\t%d\t%d\t%s" % (f, len(data), fnv(data)))


def main(folder):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".dcm") or not os.path.isfile(path):
            continue
        if subprocess.run(["dcmdump", "-q", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
            continue
        try:
            ds = pydicom.dcmread(path)
        except Exception:  # noqa: BLE001 - a file pydicom cannot read is no reference
            continue
        out = []
        meta = getattr(ds, "file_meta", None)
        if meta is not None:
            elements(meta, "", False, out)
        encodings = pydicom.charset.convert_encodings(ds.get("SpecificCharacterSet", "ISO_IR 6"))
        elements(ds, "", not ds.is_little_endian, out, encodings)
        print("F\t%s" % name)
        print("\n".join(out))
        if "PixelData" in ds:
            frames = []
            pixels(ds, frames)
            print("\n".join(frames))


if __name__ == "__main__":
    main(sys.argv[1])
