// Reading Part 10 files and raw data sets through callers' readers, and
// writing Part 10 files through a caller's writer.
#include "access.h"
#include "config.h"
#include "limits.h"
#include "pixels.h"
#include "tables.h"

#include <array>
#include <cstring>
#include <type_traits>

using namespace zyl::toolkit;

namespace {

// ---- Structure guard --------------------------------------------------------
//
// Walks element headers of a data set as its bytes arrive, ahead of DCMTK, and
// refuses declared lengths and nesting depths beyond our limits before DCMTK
// reserves memory or recurses for them.
class StructureGuard {
public:
    StructureGuard(bool explicitVr, bool bigEndian, std::optional<DcmTagKey> stopTag)
        : explicitVr_(explicitVr), bigEndian_(bigEndian), stopTag_(stopTag) {}

    void feed(const Uint8* data, std::size_t size) {
        while (size > 0 && !finished_) {
            if (skip_ > 0) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, size));
                skip_ -= n;
                offset_ += n;
                data += n;
                size -= n;
                continue;
            }
            if (have_ == 0) {
                // A header lying whole in the chunk is parsed where it is.
                const std::size_t n = headerSize(data, size);
                if (n <= size) {
                    offset_ += n;
                    data += n;
                    size -= n;
                    parseHeader(data - n, n);
                    continue;
                }
            }
            // A header split across chunks is gathered first.
            const std::size_t n = std::min(size, headerSize(header_.data(), have_) - have_);
            std::memcpy(header_.data() + have_, data, n);
            have_ += n;
            offset_ += n;
            data += n;
            size -= n;
            const std::size_t complete = headerSize(header_.data(), have_);
            if (have_ == complete) {
                have_ = 0;
                parseHeader(header_.data(), complete);
            }
        }
    }

private:
    struct Level {
        std::uint64_t end;  // offset where a defined-length container ends
        bool undefined;
        bool sequence;      // a sequence (else an item)
        bool encapsulated;  // items hold raw fragments
    };

    Uint16 read16(const Uint8* header, std::size_t at) const {
        return bigEndian_ ? static_cast<Uint16>(header[at] << 8 | header[at + 1])
                          : static_cast<Uint16>(header[at + 1] << 8 | header[at]);
    }
    Uint32 read32(const Uint8* header, std::size_t at) const {
        return bigEndian_ ? static_cast<Uint32>(read16(header, at)) << 16 | read16(header, at + 2)
                          : static_cast<Uint32>(read16(header, at + 2)) << 16 | read16(header, at);
    }

    static bool longVr(char a, char b) {
        switch (a) {
            case 'O': return b == 'B' || b == 'W' || b == 'F' || b == 'D' || b == 'L' || b == 'V';
            case 'S': return b == 'Q' || b == 'V';
            case 'U': return b == 'T' || b == 'N' || b == 'C' || b == 'R' || b == 'V';
            default: return false;
        }
    }

    // Size of the header starting at `header`, of which `available` bytes are
    // known: 8 until the first 8 are, which tell whether it is 12.
    std::size_t headerSize(const Uint8* header, std::size_t available) const {
        if (available < 8) return 8;
        if (!explicitVr_ || read16(header, 0) == 0xFFFE) return 8;
        return longVr(static_cast<char>(header[4]), static_cast<char>(header[5])) ? 12 : 8;
    }

    int sequenceDepth() const {
        int depth = 0;
        for (const auto& level : stack_) depth += level.sequence ? 1 : 0;
        return depth;
    }

    void closeFinished(std::uint64_t headerStart) {
        while (!stack_.empty() && !stack_.back().undefined && stack_.back().end <= headerStart)
            stack_.pop_back();
    }

    // Parses one complete header of `headerSize` bytes; offset_ is already past it.
    void parseHeader(const Uint8* header, std::size_t headerSize) {
        const std::uint64_t headerStart = offset_ - headerSize;
        closeFinished(headerStart);
        const DcmTagKey tag(read16(header, 0), read16(header, 2));
        const bool explicitHeader = explicitVr_ && tag.getGroup() != 0xFFFE;
        Uint32 length = 0;
        char vr[2] = {0, 0};
        if (explicitHeader) {
            vr[0] = static_cast<char>(header[4]);
            vr[1] = static_cast<char>(header[5]);
            length = headerSize == 12 ? read32(header, 8) : read16(header, 6);
        } else {
            length = read32(header, 4);
        }
        const bool undefined = length == 0xFFFFFFFF;
        const std::uint64_t end = offset_ + (undefined ? 0 : length);

        if (stack_.empty() && stopTag_ && !(tag < *stopTag_)) {
            finished_ = true;  // the reader stops here; the rest is not parsed
            return;
        }
        if (tag == DCM_Item) {
            if (!stack_.empty() && stack_.back().encapsulated) {
                requireLength(length, undefined);
                skip_ = length;
                return;
            }
            stack_.push_back({end, undefined, false, false});
            return;
        }
        if (tag == DCM_ItemDelimitationItem) {
            if (!stack_.empty() && !stack_.back().sequence) stack_.pop_back();
            return;
        }
        if (tag == DCM_SequenceDelimitationItem) {
            if (!stack_.empty() && !stack_.back().sequence) stack_.pop_back();
            if (!stack_.empty() && stack_.back().sequence) stack_.pop_back();
            return;
        }
        const bool sequence = explicitHeader ? (vr[0] == 'S' && vr[1] == 'Q')
                                             : DcmTag(tag).getEVR() == EVR_SQ;
        if (undefined || sequence) {
            if (sequenceDepth() + 1 > limits::kMaxNestingDepth) fail(MC_NESTING_TOO_DEEP);
            const bool encapsulated = undefined && !sequence &&
                                      (tag == DCM_PixelData || (vr[0] == 'O' && (vr[1] == 'B' || vr[1] == 'W')));
            if (!undefined && length == 0) return;
            stack_.push_back({end, undefined, true, encapsulated});
            return;
        }
        requireLength(length, undefined);
        skip_ = length;
    }

    static void requireLength(Uint32 length, bool undefined) {
        if (!undefined && length > limits::kMaxValueLength) fail(MC_LIMIT_EXCEEDED);
    }

    bool explicitVr_;
    bool bigEndian_;
    std::optional<DcmTagKey> stopTag_;
    bool finished_ = false;
    std::array<Uint8, 12> header_{};
    std::size_t have_ = 0;
    std::uint64_t skip_ = 0;
    std::uint64_t offset_ = 0;
    std::vector<Level> stack_;
};

// ---- Chunk sources ------------------------------------------------------------

struct Chunk {
    const Uint8* data = nullptr;
    std::size_t size = 0;
    bool last = false;
};

// Pulls chunks from a caller's reader; each chunk stays valid until the next pull.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    Chunk next() {
        if (ended_) return {nullptr, 0, true};
        int size = 0;
        void* data = nullptr;
        int last = 0;
        if (pull(first_, size, data, last) != MC_NORMAL_COMPLETION) fail(MC_CALLBACK_CANNOT_COMPLY);
        first_ = false;
        if (size < 0) fail(MC_CALLBACK_DATA_SIZE_NEGATIVE);
        if (size > 0 && !data) fail(MC_CALLBACK_PARM_ERROR);
        ended_ = last != 0;
        return {static_cast<const Uint8*>(data), static_cast<std::size_t>(size), ended_};
    }

protected:
    virtual MC_STATUS pull(bool first, int& size, void*& data, int& last) = 0;

private:
    bool first_ = true;
    bool ended_ = false;
};

class FileChunks : public ChunkSource {
public:
    FileChunks(std::string name, void* userInfo, MC_File_Reader reader)
        : name_(std::move(name)), userInfo_(userInfo), reader_(reader) {}

protected:
    MC_STATUS pull(bool first, int& size, void*& data, int& last) override {
        return reader_(name_.c_str(), userInfo_, &size, &data, first, &last);
    }

private:
    std::string name_;
    void* userInfo_;
    MC_File_Reader reader_;
};

class StreamChunks : public ChunkSource {
public:
    StreamChunks(int id, void* userInfo, MC_Stream_Reader reader) : id_(id), userInfo_(userInfo), reader_(reader) {}

protected:
    MC_STATUS pull(bool first, int& size, void*& data, int& last) override {
        return reader_(id_, userInfo_, first, &size, &data, &last);
    }

private:
    int id_;
    void* userInfo_;
    MC_Stream_Reader reader_;
};

// ---- Reading ------------------------------------------------------------------

bool isExplicit(E_TransferSyntax xfer) { return DcmXfer(xfer).isExplicitVR(); }
bool isBigEndian(E_TransferSyntax xfer) { return DcmXfer(xfer).getByteOrder() == EBO_BigEndian; }

// Feeds a data set to DCMTK chunk by chunk. `pulled` holds the pieces already
// taken from the source, in order, before it is asked for more; they must stay
// valid until they have been read.
template <class Target>
void readDataSet(Target& dataset, E_TransferSyntax xfer, ChunkSource& source, const std::vector<Chunk>& pulled,
                 std::optional<DcmTagKey> stopTag, std::size_t unguardedPrefix = 0) {
    const bool deflated = DcmXfer(xfer).getStreamCompression() != ESC_none;
    // A deflated stream cannot be walked before inflation; DCMTK gets it as is.
    std::optional<StructureGuard> guard;
    if (!deflated) guard.emplace(isExplicit(xfer), isBigEndian(xfer), stopTag);
    // DCMTK's readers inflate a deflated stream themselves: a data set from its
    // first byte, a file once it has seen the meta group.
    DcmInputBufferStream in;
    dataset.transferInit();
    std::size_t nextPulled = 0;
    for (;;) {
        const Chunk chunk = nextPulled < pulled.size() ? pulled[nextPulled++] : source.next();
        // The meta group at the front of a file is not part of the data set.
        const std::size_t skip = std::min(unguardedPrefix, chunk.size);
        unguardedPrefix -= skip;
        if (guard) guard->feed(chunk.data + skip, chunk.size - skip);
        in.setBuffer(chunk.data, static_cast<offile_off_t>(chunk.size));
        if (chunk.last) in.setEos();
        const OFCondition result =
            stopTag ? dataset.readUntilTag(in, xfer, EGL_noChange, DCM_MaxReadLength, *stopTag)
                    : dataset.read(in, xfer, EGL_noChange, DCM_MaxReadLength);
        in.releaseBuffer();
        if (result.good()) break;
        // After the last chunk "need more" means the data ended inside an element.
        if (result != EC_StreamNotifyClient || chunk.last) {
            dataset.transferEnd();
            fail(result == EC_MemoryExhausted ? MC_LIMIT_EXCEEDED : MC_INVALID_FILE);
        }
    }
    dataset.transferEnd();
}

// Reads the preamble and meta group; returns the bytes pulled past the meta group.
struct MetaPrefix {
    std::vector<Uint8> metaBytes;  // preamble, "DICM" and the meta group
    std::vector<Uint8> rest;       // first bytes of the data set
    bool sourceEnded = false;
};

MetaPrefix readMetaPrefix(ChunkSource& source, Chunk& chunk, std::size_t& used) {
    MetaPrefix prefix;
    std::vector<Uint8>& bytes = prefix.metaBytes;
    // Takes bytes until `bytes` holds `target` of them; false at end of input.
    auto fill = [&](std::size_t target) {
        while (bytes.size() < target) {
            if (used == chunk.size) {
                if (chunk.last) return false;
                chunk = source.next();
                used = 0;
                continue;
            }
            const std::size_t n = std::min(target - bytes.size(), chunk.size - used);
            bytes.insert(bytes.end(), chunk.data + used, chunk.data + used + n);
            used += n;
        }
        return true;
    };
    if (!fill(132) || std::memcmp(bytes.data() + 128, "DICM", 4) != 0) fail(MC_INVALID_FILE);
    std::size_t position = 132;
    for (;;) {
        if (!fill(position + 8)) {
            // The file ends within or right after the meta group.
            prefix.rest.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position), bytes.end());
            bytes.resize(position);
            prefix.sourceEnded = true;
            return prefix;
        }
        const Uint16 group = static_cast<Uint16>(bytes[position + 1] << 8 | bytes[position]);
        if (group != 0x0002) break;
        const char a = static_cast<char>(bytes[position + 4]);
        const char b = static_cast<char>(bytes[position + 5]);
        const bool longForm = (a == 'O' && (b == 'B' || b == 'W' || b == 'F')) || (a == 'U' && (b == 'N' || b == 'T')) ||
                              (a == 'S' && b == 'Q');
        std::size_t headerSize = 8;
        std::uint64_t length = static_cast<Uint16>(bytes[position + 7] << 8 | bytes[position + 6]);
        if (longForm) {
            headerSize = 12;
            if (!fill(position + 12)) fail(MC_INVALID_FILE);
            length = static_cast<std::uint64_t>(bytes[position + 11]) << 24 | bytes[position + 10] << 16 |
                     bytes[position + 9] << 8 | bytes[position + 8];
        }
        const std::uint64_t next = position + headerSize + length;
        if (next - 132 > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
        if (!fill(static_cast<std::size_t>(next))) fail(MC_INVALID_FILE);
        position = static_cast<std::size_t>(next);
    }
    prefix.rest.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position), bytes.end());
    bytes.resize(position);
    return prefix;
}

// The syntax of the data set: the meta group's, else guessed from its first bytes.
E_TransferSyntax dataSetSyntax(const std::vector<Uint8>& meta, const std::vector<Uint8>& firstBytes) {
    // Walk the meta group (explicit little endian) for (0002,0010).
    std::string uid;
    for (std::size_t p = 132; p + 8 <= meta.size();) {
        const Uint16 element = static_cast<Uint16>(meta[p + 3] << 8 | meta[p + 2]);
        const char a = static_cast<char>(meta[p + 4]), b = static_cast<char>(meta[p + 5]);
        const bool longForm = (a == 'O' && (b == 'B' || b == 'W' || b == 'F')) || (a == 'U' && (b == 'N' || b == 'T')) ||
                              (a == 'S' && b == 'Q');
        std::size_t header = 8;
        std::size_t length = static_cast<Uint16>(meta[p + 7] << 8 | meta[p + 6]);
        if (longForm) {
            header = 12;
            length = static_cast<std::size_t>(meta[p + 11]) << 24 | meta[p + 10] << 16 | meta[p + 9] << 8 | meta[p + 8];
        }
        if (p + header + length > meta.size()) break;
        if (element == 0x0010) uid.assign(meta.begin() + static_cast<std::ptrdiff_t>(p + header),
                                          meta.begin() + static_cast<std::ptrdiff_t>(p + header + length));
        p += header + length;
    }
    while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
    if (!uid.empty()) {
        const DcmXfer xfer(uid.c_str());
        if (xfer.getXfer() != EXS_Unknown) return xfer.getXfer();
        return EXS_LittleEndianExplicit;  // every syntax DCMTK lacks encodes explicit little endian
    }
    const bool explicitVr = firstBytes.size() >= 6 && std::isupper(firstBytes[4]) && std::isupper(firstBytes[5]);
    return explicitVr ? EXS_LittleEndianExplicit : EXS_LittleEndianImplicit;
}

void resetTree(Target& target) {
    Root& root = target.root();
    for (const auto& [item, id] : root.itemIds) IdTable::instance().remove(id);
    root.itemIds.clear();
    root.states.clear();
    root.fileFormat->clear();
}

MC_STATUS openFile(int applicationId, int fileId, void* userInfo, MC_File_Reader reader,
                   std::optional<DcmTagKey> stopTag) {
    requireInitialized();
    if (!reader) return MC_NO_CALLBACK;
    auto application = IdTable::instance().find(applicationId);
    if (!application || application->kind != IdKind::Application) return MC_INVALID_APPLICATION_ID;
    Target target = Target::open(fileId, true);
    Root& root = target.root();
    if (!root.isFile) return MC_INVALID_FILE_ID;
    resetTree(target);
    FileChunks source(root.fileName, userInfo, reader);

    Chunk chunk = source.next();
    std::size_t used = 0;
    MetaPrefix prefix = readMetaPrefix(source, chunk, used);

    const E_TransferSyntax xfer = dataSetSyntax(prefix.metaBytes, prefix.rest);
    // DCMTK parses the meta group reliably only when it arrives in one piece:
    // the first buffer holds all of it (and the few data set bytes read past
    // it), then the rest of the caller's chunk follows where it is.
    const std::size_t metaSize = prefix.metaBytes.size();
    std::vector<Uint8> head = std::move(prefix.metaBytes);
    head.insert(head.end(), prefix.rest.begin(), prefix.rest.end());
    const Chunk remainder{chunk.data + used, chunk.size - used, chunk.last};
    std::vector<Chunk> pulled;
    if (remainder.size == 0) {
        pulled.push_back({head.data(), head.size(), prefix.sourceEnded || chunk.last});
    } else {
        pulled.push_back({head.data(), head.size(), false});
        pulled.push_back(remainder);
    }
    readDataSet(*root.fileFormat, xfer, source, pulled, stopTag, metaSize);
    const E_TransferSyntax original = root.dataset()->getOriginalXfer();
    root.transferSyntax = original != EXS_Unknown ? original : xfer;
    return MC_NORMAL_COMPLETION;
}

// ---- Writing ----------------------------------------------------------------------

// Delivers encoded bytes to the caller's writer, holding one block back so
// that the last one can be marked.
class BlockSink {
public:
    BlockSink(std::string name, void* userInfo, MC_File_Writer writer)
        : name_(std::move(name)), userInfo_(userInfo), writer_(writer) {}

    void add(const void* data, std::size_t size) {
        if (size == 0) return;
        if (!pending_.empty()) deliver(false);
        const auto* bytes = static_cast<const Uint8*>(data);
        pending_.assign(bytes, bytes + size);
    }
    void finish() { deliver(true); }

private:
    void deliver(bool last) {
        const MC_STATUS s = writer_(name_.c_str(), userInfo_, static_cast<int>(pending_.size()),
                                    pending_.data(), first_, last);
        first_ = false;
        pending_.clear();
        if (s != MC_NORMAL_COMPLETION) fail(MC_CALLBACK_CANNOT_COMPLY);
    }

    std::string name_;
    void* userInfo_;
    MC_File_Writer writer_;
    std::vector<Uint8> pending_;
    bool first_ = true;
};

void putMetaDefault(DcmMetaInfo& meta, DcmDataset& dataset, const DcmTagKey& tag, const DcmTagKey& source) {
    if (meta.tagExists(tag)) return;
    OFString value;
    if (dataset.findAndGetOFString(source, value).good() && !value.empty())
        meta.putAndInsertString(tag, value.c_str());
}

// Completes the meta group with what a Part 10 file needs and the caller left out.
void completeMeta(Root& root, E_TransferSyntax xfer) {
    DcmMetaInfo& meta = *root.meta();
    DcmDataset& dataset = *root.dataset();
    if (!meta.tagExists(DCM_FileMetaInformationVersion)) {
        const Uint8 version[2] = {0x00, 0x01};
        meta.putAndInsertUint8Array(DCM_FileMetaInformationVersion, version, 2);
    }
    putMetaDefault(meta, dataset, DCM_MediaStorageSOPClassUID, DCM_SOPClassUID);
    putMetaDefault(meta, dataset, DCM_MediaStorageSOPInstanceUID, DCM_SOPInstanceUID);
    if (!meta.tagExists(DCM_TransferSyntaxUID)) meta.putAndInsertString(DCM_TransferSyntaxUID, DcmXfer(xfer).getXferID());
    const auto& values = configuration().values;
    if (!meta.tagExists(DCM_ImplementationClassUID))
        meta.putAndInsertString(DCM_ImplementationClassUID, values.at(MC_CFG_IMPLEMENTATION_CLASS_UID).c_str());
    if (!meta.tagExists(DCM_ImplementationVersionName))
        meta.putAndInsertString(DCM_ImplementationVersionName, values.at(MC_CFG_IMPLEMENTATION_VERSION).c_str());
}

// Encodes one element completely into memory.
std::vector<Uint8> encodeElement(DcmElement& element) {
    const Uint32 size = element.calcElementLength(EXS_LittleEndianExplicit, EET_ExplicitLength);
    if (size > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
    std::vector<Uint8> buffer(size + 16);
    DcmOutputBufferStream out(buffer.data(), static_cast<offile_off_t>(buffer.size()));
    element.transferInit();
    const OFCondition result = element.write(out, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
    element.transferEnd();
    if (result.bad()) fail(MC_CANNOT_COMPLY);
    void* data = nullptr;
    offile_off_t length = 0;
    out.flushBuffer(data, length);
    const auto* bytes = static_cast<const Uint8*>(data);
    return std::vector<Uint8>(bytes, bytes + length);
}

// Preamble, "DICM" and the meta group with a group length of our own; DCMTK's
// file writer drops meta elements when its blocks are small, so we do it here.
std::vector<Uint8> encodeMeta(DcmMetaInfo& meta) {
    std::vector<Uint8> body;
    for (DcmObject* o = meta.nextInContainer(nullptr); o; o = meta.nextInContainer(o)) {
        if (o->getTag() == DCM_FileMetaInformationGroupLength) continue;
        const auto bytes = encodeElement(*static_cast<DcmElement*>(o));
        body.insert(body.end(), bytes.begin(), bytes.end());
        if (body.size() > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
    }
    DcmUnsignedLong groupLength(DCM_FileMetaInformationGroupLength);
    groupLength.putUint32(static_cast<Uint32>(body.size()));
    std::vector<Uint8> file(128, 0);
    file.insert(file.end(), {'D', 'I', 'C', 'M'});
    const auto lengthBytes = encodeElement(groupLength);
    file.insert(file.end(), lengthBytes.begin(), lengthBytes.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// Holds a message's command group (0000,xxxx) out of its data set while a
// file is written: a Part 10 file carries no command fields. They go back in
// place afterwards, also when the write fails.
class CommandGroupSetAside {
public:
    explicit CommandGroupSetAside(DcmDataset& dataset) : dataset_(dataset) {
        for (unsigned long i = dataset_.card(); i-- > 0;) {
            DcmElement* element = dataset_.getElement(i);
            if (element && element->getGTag() == 0x0000) held_.push_back(dataset_.remove(element));
        }
    }
    ~CommandGroupSetAside() {
        for (DcmElement* element : held_) dataset_.insert(element, true);
    }
    CommandGroupSetAside(const CommandGroupSetAside&) = delete;
    CommandGroupSetAside& operator=(const CommandGroupSetAside&) = delete;

private:
    DcmDataset& dataset_;
    std::vector<DcmElement*> held_;  // owned while set aside
};

bool hasSequenceUnknownToDictionary(DcmItem& item) {
    for (DcmObject* object = item.nextInContainer(nullptr); object; object = item.nextInContainer(object)) {
        if (object->ident() != EVR_SQ) continue;
        if (DcmTag(object->getGTag(), object->getETag()).getEVR() != EVR_SQ) return true;
        auto* sequence = static_cast<DcmSequenceOfItems*>(object);
        for (unsigned long i = 0; i < sequence->card(); ++i)
            if (hasSequenceUnknownToDictionary(*sequence->getItem(i))) return true;
    }
    return false;
}

void encodeDataSet(DcmDataset& dataset, E_TransferSyntax xfer, BlockSink& sink) {
    const CommandGroupSetAside commandGroup(dataset);
    // In implicit VR a sequence that the dictionary does not know as one is
    // only recognisable by its delimiters, so such data sets get undefined
    // lengths. Otherwise explicit lengths keep byte offsets into the file
    // (directory records) as they were.
    const E_EncodingType sequenceLengths =
        !DcmXfer(xfer).isExplicitVR() && hasSequenceUnknownToDictionary(dataset) ? EET_UndefinedLength
                                                                                 : EET_ExplicitLength;
    std::vector<Uint8> block(limits::kWriteBlockSize);
    // DCMTK's data set writer deflates by itself for a deflated syntax.
    DcmOutputBufferStream out(block.data(), static_cast<offile_off_t>(block.size()));
    dataset.transferInit();
    bool done = false;
    int idlePasses = 0;
    while (!(done && out.isFlushed())) {
        if (!done) {
            const OFCondition result =
                dataset.write(out, xfer, sequenceLengths, nullptr, EGL_recalcGL, EPD_noChange);
            if (result.good()) {
                done = true;
                out.flush();
            } else if (result != EC_StreamNotifyClient) {
                dataset.transferEnd();
                fail(MC_CANNOT_COMPLY);
            }
        } else {
            out.flush();
        }
        void* data = nullptr;
        offile_off_t length = 0;
        out.flushBuffer(data, length);
        sink.add(data, static_cast<std::size_t>(length));
        // Guards against an encoder that stops making progress.
        idlePasses = length > 0 ? 0 : idlePasses + 1;
        if (idlePasses > 16) {
            dataset.transferEnd();
            fail(MC_CANNOT_COMPLY);
        }
    }
    dataset.transferEnd();
}

}  // namespace

extern "C" {

MC_STATUS MC_Open_File(int applicationId, int fileId, void* userInfo, MC_File_Reader reader) {
    return guarded([&] { return openFile(applicationId, fileId, userInfo, reader, std::nullopt); });
}

MC_STATUS MC_Open_File_Upto_Tag(int applicationId, int fileId, void* userInfo, uint32_t stopTag,
                                MC_File_Reader reader) {
    return guarded([&] { return openFile(applicationId, fileId, userInfo, reader, tagKey(stopTag)); });
}

MC_STATUS MC_Stream_To_Message(int messageId, uint32_t startTag, uint32_t stopTag, MC_TRANSFER_SYNTAX syntax,
                               void* userInfo, MC_Stream_Reader reader) {
    return guarded([&] {
        if (!reader) return MC_NO_CALLBACK;
        auto xfer = tables::dcmtkFromSyntax(syntax);
        if (!xfer) return MC_INVALID_TRANSFER_SYNTAX;
        if (startTag > stopTag) return MC_INVALID_TAG;
        Target target = Target::open(messageId, true);
        resetTree(target);
        StreamChunks source(messageId, userInfo, reader);
        const Chunk first = source.next();
        DcmDataset& dataset = *target.root().dataset();
        readDataSet(dataset, *xfer, source, {first}, std::nullopt);
        // Keep the attributes of the range only.
        std::vector<DcmTagKey> outside;
        for (DcmObject* o = dataset.nextInContainer(nullptr); o; o = dataset.nextInContainer(o)) {
            const std::uint32_t tag = tagValue(o->getTag());
            if (tag < startTag || tag > stopTag) outside.push_back(o->getTag());
        }
        for (const auto& key : outside) removeElement(target.root(), dataset, key);
        target.root().transferSyntax = *xfer;
        return MC_NORMAL_COMPLETION;
    });
}

MC_STATUS MC_Write_File(int fileId, void* userInfo, MC_File_Writer writer) {
    return guarded([&] {
        if (!writer) return MC_NO_CALLBACK;
        E_TransferSyntax xfer = EXS_Unknown;
        {
            Target target = Target::open(fileId, true);
            Root& root = target.root();
            if (!root.isFile) return MC_INVALID_FILE_ID;
            xfer = root.transferSyntax;
            OFString uid;
            if (root.meta()->findAndGetOFString(DCM_TransferSyntaxUID, uid).good() && !uid.empty()) {
                auto number = tables::syntaxFromUid(std::string(uid));
                if (!number) return MC_INVALID_TRANSFER_SYNTAX;
                xfer = *tables::dcmtkFromSyntax(*number);
            }
        }
        // Pixel data not in the form the syntax needs goes through the codecs.
        pixels::convertPixelData(fileId, xfer);
        Target target = Target::open(fileId, true);
        Root& root = target.root();
        if (!root.isFile) return MC_INVALID_FILE_ID;
        DcmDataset& dataset = *root.dataset();
        if (!dataset.canWriteXfer(xfer, root.transferSyntax))
            return DcmXfer(xfer).isEncapsulated() ? MC_COMPRESSOR_REQUIRED : MC_DECOMPRESSOR_REQUIRED;
        completeMeta(root, xfer);
        BlockSink sink(root.fileName, userInfo, writer);
        const std::vector<Uint8> head = encodeMeta(*root.meta());
        sink.add(head.data(), head.size());
        encodeDataSet(dataset, xfer, sink);
        sink.finish();
        root.transferSyntax = xfer;
        return MC_NORMAL_COMPLETION;
    });
}

}  // extern "C"
