# Sourced by the benchmark scripts: distinct test objects made with DCMTK.
#
# make_objects <folder> <count> <rows> <columns> <frames>
#   writes <folder>/1.dcm .. <count>.dcm: 16-bit secondary captures of random
#   pixels, explicit VR little endian, each with a SOP Instance UID of its own.
make_objects() {
  local dir=$1 count=$2 rows=$3 columns=$4 frames=$5 scratch
  mkdir -p "$dir"
  scratch=$(mktemp -d "$dir/.make_XXXXXX")
  head -c $((rows * columns * 2 * frames)) /dev/urandom >"$scratch/pixels.raw"
  cat >"$scratch/object.dump" <<DUMP
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.826.0.1.3680043.10.998.1]
(0008,0060) CS [OT]
(0010,0010) PN [BENCH^OBJECT]
(0010,0020) LO [BENCH]
(0020,000d) UI [1.2.826.0.1.3680043.10.998.2]
(0020,000e) UI [1.2.826.0.1.3680043.10.998.3]
(0020,0013) IS [1]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0008) IS [$frames]
(0028,0010) US $rows
(0028,0011) US $columns
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 0
(7fe0,0010) OW =$scratch/pixels.raw
DUMP
  dump2dcm +te "$scratch/object.dump" "$scratch/base.dcm"
  for i in $(seq 1 "$count"); do
    cp "$scratch/base.dcm" "$dir/$i.dcm"
    dcmodify -nb -q -i "(0008,0018)=1.2.826.0.1.3680043.10.998.$rows.$frames.$i" "$dir/$i.dcm"
  done
  rm -rf "$scratch"
}
