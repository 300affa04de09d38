#include "queue/event_queue_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace Corvex::Tracking {

namespace {

constexpr int64_t BLOCK = 4096;
// How much of the ring a walk over the entries reads at once (more for a
// longer entry), and how much zeroing writes at once.
constexpr int64_t READ_PIECE = 16 * BLOCK;
// Only ever read; not const, so that it lies in zero-filled memory rather
// than taking its size in the library file.
std::array<char, READ_PIECE> zeros{};
// The header's fields are signed 32-bit, so the ring cannot grow past this.
constexpr int64_t MAX_LENGTH = std::numeric_limits<int32_t>::max();

void encode(char* out, int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    out[0] = static_cast<char>(v >> 24);
    out[1] = static_cast<char>(v >> 16);
    out[2] = static_cast<char>(v >> 8);
    out[3] = static_cast<char>(v);
}

int32_t decode(const char* in) {
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    const uint32_t v =
        (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
    return static_cast<int32_t>(v);
}

// The sum of the bytes, eight at a time: each word adds its byte pairs to
// four 16-bit lanes, which 128 words cannot overflow.
uint64_t byteSum(const char* data, size_t n) {
    constexpr uint64_t LOW_BYTES = 0x00FF00FF00FF00FF;
    uint64_t sum = 0;
    size_t i = 0;
    while (n - i >= 8) {
        const size_t stop = i + std::min<size_t>((n - i) / 8, 128) * 8;
        uint64_t lanes = 0;
        for (; i < stop; i += 8) {
            uint64_t word = 0;
            std::memcpy(&word, data + i, sizeof word);
            lanes += (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES);
        }
        sum +=
            (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
    }
    for (; i < n; ++i) sum += static_cast<unsigned char>(data[i]);
    return sum;
}

// The first ring length of the doubling series from 4096 that holds the bytes,
// or 0 when none fits the header's fields.
int64_t lengthFor(int64_t bytes) {
    int64_t length = EventQueueFile::INITIAL_LENGTH;
    while (length < bytes) length *= 2;
    return length <= MAX_LENGTH ? length : 0;
}

}  // namespace

// The entries lie one after another in ring order, so a walk over them reads
// the ring in large pieces rather than a few bytes per entry.
class EventQueueFile::PieceReader {
public:
    // Bytes from the ring position `start` onwards, at most `limit` of them,
    // in a file of `diskSize` bytes (a ring grows before its file does).
    PieceReader(EventQueueFile& owner, int64_t start, int64_t limit, int64_t diskSize)
        : owner(owner), start(start), limit(limit), diskSize(diskSize) {}

    // The n bytes at `offset` past the start, or null when they lie past the
    // limit or cannot be read. Valid until the next call.
    const char* bytes(int64_t offset, int64_t n) {
        if (offset < 0 || n < 0 || offset + n > limit) return nullptr;
        const auto held = static_cast<int64_t>(piece.size());
        if (offset < pieceStart || offset + n > pieceStart + held) {
            int64_t ahead = std::min(limit - offset, std::max(n, READ_PIECE));
            // A file shorter than its ring (it grows only as entries reach
            // further) holds nothing past its end to read ahead.
            if (diskSize < owner.ringLength) {
                ahead = std::max(n, std::min(ahead, diskSize - owner.wrap(start + offset)));
            }
            piece.resize(static_cast<size_t>(ahead));
            pieceStart = offset;
            if (!owner.readRing(start + offset, piece.data(), ahead)) {
                piece.clear();
                return nullptr;
            }
        }
        return piece.data() + (offset - pieceStart);
    }

private:
    EventQueueFile& owner;
    const int64_t start;
    const int64_t limit;
    const int64_t diskSize;
    std::string piece;
    int64_t pieceStart = 0;
};

EventQueueFile::EventQueueFile(std::string path)
    : EventQueueFile(std::move(path), std::make_unique<QueueFileLayer>()) {}

EventQueueFile::EventQueueFile(std::string path, std::unique_ptr<QueueFileLayer> layer)
    : file(std::move(layer)), path(std::move(path)) {
    temporaryPath = this->path + ".new";
}

EventQueueFile::~EventQueueFile() {
    close();
}

EventQueueFile::OpenResult EventQueueFile::open() {
    close();
    if (file->open(path, false)) {
        state = State::Failed;
        if (!loadHeader()) return OpenResult::Corrupt;
        if (damaged) return OpenResult::Damaged;
        state = State::Ready;
        if (reclaimOutsideEntries()) return OpenResult::Ready;
        // Readable still; the caller rewrites it from what it reads.
        state = State::Failed;
        damaged = true;
        return OpenResult::Damaged;
    }
    // An existing file that cannot be opened may hold events another run can
    // still send: it is not replaced.
    if (file->fileExists(path)) return OpenResult::Unavailable;
    state = State::Failed;
    if (writeFresh({})) return OpenResult::Ready;
    state = State::Closed;
    return OpenResult::Unavailable;
}

// Reads the header and follows the chain of entries it describes as far as
// it holds: to a length of 0, a length the ring cannot hold, an entry that
// runs past the end of the file, or a step past the header's newest entry.
// After a power cut the pages of an unsynced append or growth may be missing
// while its header is there; the entries before that point are sound. Only a
// header that is not sound itself gives false.
bool EventQueueFile::loadHeader() {
    damaged = false;
    if (!file->readAt(0, scratch.data(), HEADER_LENGTH)) return false;
    const int64_t length = decode(&scratch[0]);
    const int32_t count = decode(&scratch[4]);
    const int64_t firstPosition = decode(&scratch[8]);
    const int64_t lastPosition = decode(&scratch[12]);
    if (length < INITIAL_LENGTH || length % BLOCK != 0 || count < 0) return false;
    if (count == 0 ? firstPosition != 0 || lastPosition != 0
                   : firstPosition < HEADER_LENGTH || firstPosition >= length ||
                         lastPosition < HEADER_LENGTH || lastPosition >= length) {
        return false;
    }
    ringLength = length;
    entryCount = 0;
    first = EntryRef{};
    last = EntryRef{};
    tail = HEADER_LENGTH;
    checkFromLast(0);
    if (count == 0) return true;

    const int64_t ring = length - HEADER_LENGTH;
    const int64_t lastDistance = (lastPosition - firstPosition + ring) % ring;
    const int64_t diskSize = file->size();
    PieceReader reader(*this, firstPosition, ring, diskSize);
    int64_t position = firstPosition;
    int64_t total = 0;
    while (entryCount < count && total <= lastDistance) {
        const char* field = reader.bytes(total, 4);
        if (field == nullptr) break;
        const int32_t entryLength = decode(field);
        if (entryLength < 1 || total + 4 + int64_t{entryLength} > ring) break;
        // An entry that wraps needs the ring's whole first stretch on disk.
        if (std::min(position + 4 + entryLength, length) > diskSize) break;
        last = EntryRef{position, entryLength};
        if (entryCount == 0) first = last;
        ++entryCount;
        total += 4 + int64_t{entryLength};
        position = wrap(position + 4 + entryLength);
    }
    tail = entryCount > 0 ? position : firstPosition;
    damaged = entryCount != count || last.position != lastPosition;
    if (damaged || entryCount == 0) return true;
    entryBuffer.resize(4 + static_cast<size_t>(last.length));
    if (!readRing(last.position, entryBuffer.data(), 4 + int64_t{last.length})) return false;
    checkFromLast(byteSum(entryBuffer.data(), entryBuffer.size()));
    return true;
}

// What lies outside the entries is unknown: a crash may have left retired
// bytes unzeroed, and what this process reads may not be on the disk yet.
// So the file is synced, retired bytes that are not zeros are zeroed and
// synced too, and only then may appends write over them.
bool EventQueueFile::reclaimOutsideEntries() {
    const int64_t outside = ringLength - HEADER_LENGTH - liveBytes();
    bool clean = true;
    const int64_t diskSize = file->size();
    for (int64_t offset = 0; clean && offset < outside;) {
        const int64_t position = wrap(tail + offset);
        // Bytes past the end of the file read as zeros.
        const int64_t piece = std::min({outside - offset, ringLength - position, READ_PIECE});
        const int64_t onDisk = std::clamp<int64_t>(diskSize - position, 0, piece);
        if (onDisk > 0) {
            entryBuffer.resize(static_cast<size_t>(onDisk));
            if (!file->readAt(position, entryBuffer.data(), entryBuffer.size())) return fail();
            clean = std::memcmp(entryBuffer.data(), zeros.data(), entryBuffer.size()) == 0;
        }
        offset += piece;
    }
    reclaimFrom = tail;
    zeroedBytes = clean ? outside : 0;
    releasedBytes = clean ? 0 : outside;
    dirty = true;
    return sync() && (clean || sync());
}

EventQueueFile::ReadResult EventQueueFile::readEntries(
    const std::function<void(std::string&& text)>& onEntry) {
    if (state != State::Ready && !damaged) return ReadResult::Corrupt;
    PieceReader reader(*this, first.position, usedBytes() - HEADER_LENGTH, file->size());
    int64_t offset = 0;
    for (int32_t i = 0; i < entryCount; ++i) {
        const char* field = reader.bytes(offset, 4);
        const int32_t length = field == nullptr ? 0 : decode(field);
        const char* text = length < 1 ? nullptr : reader.bytes(offset, 4 + int64_t{length});
        if (text == nullptr) {
            fail();
            return ReadResult::Corrupt;
        }
        onEntry(std::string(text + 4, static_cast<size_t>(length)));
        offset += 4 + int64_t{length};
    }
    return ReadResult::Ok;
}

// The length field and the text go out in one write (two where the entry
// runs past the ring's end), then the header: two writes per append. The
// entry goes over free bytes only, whose zeros are synced: if the header
// reaches the disk and some of the entry's pages do not, the entry reads as
// zeros there and never as a piece of another event.
bool EventQueueFile::append(const char* data, int32_t length) {
    if (state != State::Ready || data == nullptr || length < 1) return false;
    bool syncBeforeHeader = false;
    if (!growFor(length, syncBeforeHeader)) return false;
    const int64_t position = tail;
    entryBuffer.resize(4 + static_cast<size_t>(length));
    encode(entryBuffer.data(), length);
    std::memcpy(entryBuffer.data() + 4, data, static_cast<size_t>(length));
    dirty = true;
    if (!writeRing(position, entryBuffer.data(), 4 + int64_t{length})) return fail();
    if (syncBeforeHeader && !file->sync()) return fail();
    const int64_t firstPosition = entryCount == 0 ? position : first.position;
    if (!writeHeader(ringLength, entryCount + 1, firstPosition, position)) return fail();
    last = EntryRef{position, length};
    if (entryCount == 0) first = last;
    ++entryCount;
    tail = wrap(position + 4 + length);
    if (checkFrom == 0) checkFrom = position;
    checkSum += byteSum(entryBuffer.data(), entryBuffer.size());
    ++checkedEntries;
    return true;
}

// Only the header changes: the removed bytes stay as they are until the
// header that lets them go is synced (finishSync zeroes them then), since a
// disk that wrote the zeros first and lost the header would hold a chain
// that breaks at its first entry.
bool EventQueueFile::removeFirst(int32_t count) {
    if (state != State::Ready) return false;
    if (count <= 0) return true;
    count = std::min(count, entryCount);
    dirty = true;
    if (count == entryCount) {
        if (!writeHeader(ringLength, 0, 0, 0)) return fail();
        releasedBytes += liveBytes();
        entryCount = 0;
        first = EntryRef{};
        last = EntryRef{};
        checkFromLast(0);
        return true;
    }
    // The read-back must not start in entries about to be released.
    if (count > entryCount - checkedEntries && !matchesDisk()) return fail();

    // Walks the removed entries' length fields to the new first entry.
    PieceReader reader(*this, first.position, usedBytes() - HEADER_LENGTH, file->size());
    int32_t length = first.length;
    int64_t erased = 0;
    for (int32_t i = 0; i < count; ++i) {
        erased += 4 + length;
        const char* field = reader.bytes(erased, 4);
        if (field == nullptr) return fail();
        length = decode(field);
    }
    const int64_t position = wrap(first.position + erased);
    if (!writeHeader(ringLength, entryCount - count, position, last.position)) return fail();
    entryCount -= count;
    first = EntryRef{position, length};
    releasedBytes += erased;
    return true;
}

bool EventQueueFile::rewrite(const std::vector<std::string_view>& texts) {
    return state != State::Closed && writeFresh(texts);
}

bool EventQueueFile::recreate() {
    return rewrite({});
}

// Builds the complete file beside the path, syncs it and moves it over the
// path, then syncs the folder: the path holds the old file or the whole new
// one at every instant, on the disk too. The new ring is the smallest of the
// doubling series that holds the texts, zero-filled, with the entries one
// after another from offset 16.
bool EventQueueFile::writeFresh(const std::vector<std::string_view>& texts) {
    int64_t bytes = HEADER_LENGTH;
    for (std::string_view text : texts) {
        if (text.empty() || text.size() > static_cast<size_t>(MAX_LENGTH)) return false;
        bytes += 4 + static_cast<int64_t>(text.size());
        if (bytes > MAX_LENGTH) return false;
    }
    const int64_t length = lengthFor(bytes);
    if (length == 0) return false;

    file->close();
    state = State::Failed;
    damaged = false;
    ++layout;
    ringLength = length;
    entryCount = 0;
    first = EntryRef{};
    last = EntryRef{};
    bool ok = file->open(temporaryPath, true) && file->truncate(0) && file->truncate(length);
    int64_t position = HEADER_LENGTH;
    for (size_t i = 0; ok && i < texts.size(); ++i) {
        const auto textLength = static_cast<int32_t>(texts[i].size());
        ok = writeLength(position, textLength) &&
             file->writeAt(position + 4, texts[i].data(), texts[i].size());
        last = EntryRef{position, textLength};
        if (i == 0) first = last;
        position += 4 + textLength;
    }
    const auto count = static_cast<int32_t>(texts.size());
    ok = ok && writeHeader(length, count, first.position, last.position) && file->sync();
    file->close();
    if (!ok || !file->renameFile(temporaryPath, path)) {
        file->removeFile(temporaryPath);
        return false;
    }
    // A file system that cannot sync a folder (some network ones) still
    // holds the file: the rename stands.
    file->syncFolderOf(path);
    if (!file->open(path, false)) return false;
    entryCount = count;
    tail = wrap(position);
    // Nothing is retired: the free bytes run from the tail to the oldest entry.
    reclaimFrom = count > 0 ? first.position : tail;
    zeroedBytes = 0;
    releasedBytes = 0;
    dirty = false;
    state = State::Ready;
    uint64_t sum = 0;
    if (count > 0) {
        encode(scratch.data(), last.length);
        sum = byteSum(scratch.data(), 4) + byteSum(texts.back().data(), texts.back().size());
    }
    checkFromLast(sum);
    return true;
}

void EventQueueFile::close() {
    file->close();
    state = State::Closed;
    damaged = false;
}

bool EventQueueFile::needsSync() const {
    return state == State::Ready && dirty;
}

EventQueueFile::PendingSync EventQueueFile::beginSync() {
    PendingSync pending;
    if (!needsSync()) return pending;
    pending.handle = file->duplicate();
    if (!pending.handle) return pending;
    dirty = false;
    pending.layout = layout;
    pending.zeroed = zeroedBytes;
    pending.released = releasedBytes;
    return pending;
}

bool EventQueueFile::finishSync(const PendingSync& pending, bool synced) {
    if (!synced) {
        dirty = true;  // tried again by the next sync
        return false;
    }
    // A growth or a rebuild since the start moved the bytes the counts name.
    if (state != State::Ready || pending.layout != layout) return true;
    // Zeros on the disk: free for appends.
    reclaimFrom = wrap(reclaimFrom + pending.zeroed);
    zeroedBytes -= pending.zeroed;
    // No header on the disk names these bytes any more: they can be zeroed,
    // which the next sync makes durable.
    if (pending.released > 0) {
        dirty = true;
        if (!zeroRing(reclaimFrom + zeroedBytes, pending.released)) return fail();
        zeroedBytes += pending.released;
        releasedBytes -= pending.released;
    }
    // An empty ring goes back to its first length once all of it is free.
    if (entryCount == 0 && zeroedBytes == 0 && releasedBytes == 0 && ringLength > INITIAL_LENGTH) {
        ++layout;
        dirty = true;
        if (!writeHeader(INITIAL_LENGTH, 0, 0, 0) || !file->truncate(INITIAL_LENGTH)) return fail();
        ringLength = INITIAL_LENGTH;
        tail = HEADER_LENGTH;
        reclaimFrom = HEADER_LENGTH;
    }
    return true;
}

bool EventQueueFile::sync() {
    PendingSync pending = beginSync();
    if (!pending.handle) return !needsSync();
    const bool synced = pending.handle->sync();
    return finishSync(pending, synced);
}

bool EventQueueFile::isOpen() const {
    return state != State::Closed;
}

bool EventQueueFile::isReady() const {
    return state == State::Ready;
}

bool EventQueueFile::matchesDisk() {
    if (state != State::Ready) return false;
    int64_t reach = HEADER_LENGTH;
    if (entryCount > 0) {
        // A wrapped ring holds entries up to its end; otherwise the newest
        // entry ends furthest in.
        reach = last.position < first.position
                    ? ringLength
                    : std::min(last.position + 4 + last.length, ringLength);
    }
    // Asked of the open file rather than of the path: cheaper, and it also
    // tells when another file has taken the deleted one's name.
    if (file->namedSize() < reach) return false;
    if (checkFrom == 0) return true;
    const int64_t end = wrap(last.position + 4 + last.length);
    const int64_t n =
        end > checkFrom ? end - checkFrom : end - HEADER_LENGTH + ringLength - checkFrom;
    // Read in pieces into the scratch buffer, so a check holds no memory.
    const int64_t newestFrom = n - (4 + int64_t{last.length});
    uint64_t sum = 0;
    uint64_t newestSum = 0;
    for (int64_t offset = 0; offset < n;) {
        const int64_t piece = std::min<int64_t>(n - offset, static_cast<int64_t>(scratch.size()));
        if (!readRing(checkFrom + offset, scratch.data(), piece)) return false;
        sum += byteSum(scratch.data(), static_cast<size_t>(piece));
        const int64_t from = std::max(newestFrom, offset);
        if (from < offset + piece) {
            newestSum += byteSum(scratch.data() + (from - offset),
                                 static_cast<size_t>(offset + piece - from));
        }
        offset += piece;
    }
    if (sum != checkSum) return false;
    checkFromLast(newestSum);
    return true;
}

void EventQueueFile::checkFromLast(uint64_t sum) {
    checkFrom = entryCount > 0 ? last.position : 0;
    checkSum = entryCount > 0 ? sum : 0;
    checkedEntries = entryCount > 0 ? 1 : 0;
}

int32_t EventQueueFile::elementCount() const {
    return entryCount;
}

int32_t EventQueueFile::fileLength() const {
    return static_cast<int32_t>(ringLength);
}

const std::string& EventQueueFile::filePath() const {
    return path;
}

bool EventQueueFile::fail() {
    state = State::Failed;
    return false;
}

bool EventQueueFile::writeHeader(int64_t length, int32_t count, int64_t firstPosition,
                                 int64_t lastPosition) {
    encode(&scratch[0], length);
    encode(&scratch[4], count);
    encode(&scratch[8], firstPosition);
    encode(&scratch[12], lastPosition);
    return file->writeAt(0, scratch.data(), HEADER_LENGTH);
}

bool EventQueueFile::writeLength(int64_t position, int32_t length) {
    encode(&scratch[0], length);
    return writeRing(position, scratch.data(), 4);
}

bool EventQueueFile::readRing(int64_t position, void* buffer, int64_t n) {
    position = wrap(position);
    const int64_t head = std::min(n, ringLength - position);
    auto* out = static_cast<char*>(buffer);
    return file->readAt(position, out, static_cast<size_t>(head)) &&
           (head == n || file->readAt(HEADER_LENGTH, out + head, static_cast<size_t>(n - head)));
}

bool EventQueueFile::writeRing(int64_t position, const void* buffer, int64_t n) {
    position = wrap(position);
    const int64_t head = std::min(n, ringLength - position);
    const auto* in = static_cast<const char*>(buffer);
    return file->writeAt(position, in, static_cast<size_t>(head)) &&
           (head == n || file->writeAt(HEADER_LENGTH, in + head, static_cast<size_t>(n - head)));
}

bool EventQueueFile::zeroRing(int64_t position, int64_t n) {
    while (n > 0) {
        const int64_t piece = std::min<int64_t>(n, READ_PIECE);
        if (!writeRing(position, zeros.data(), piece)) return false;
        position = wrap(position + piece);
        n -= piece;
    }
    return true;
}

int64_t EventQueueFile::wrap(int64_t position) const {
    return position < ringLength ? position : position - ringLength + HEADER_LENGTH;
}

int64_t EventQueueFile::usedBytes() const {
    if (entryCount == 0) return HEADER_LENGTH;
    if (last.position >= first.position) {
        return last.position - first.position + 4 + last.length + HEADER_LENGTH;
    }
    return last.position + 4 + last.length + ringLength - first.position;
}

int64_t EventQueueFile::liveBytes() const {
    return usedBytes() - HEADER_LENGTH;
}

int64_t EventQueueFile::freeBytes() const {
    return ringLength - HEADER_LENGTH - liveBytes() - zeroedBytes - releasedBytes;
}

// Doubles the ring until the entry fits in its free bytes. The bytes that
// are not free (retired ones on their way back, then the entries) lie in one
// run from reclaimFrom to the tail. When that run stays before the old end,
// no position changes: the header of the append commits the new length. When
// it wraps, the part past the end is copied behind the old end; the old
// header names those entries at their old place, so the copy must be durable
// before a header names the new one. Everything before the oldest entry then
// lies in what is now the free stretch: it counts as released, to be zeroed
// and synced before reuse.
bool EventQueueFile::growFor(int32_t length, bool& syncBeforeHeader) {
    const int64_t needed = int64_t{length} + 4;
    if (freeBytes() >= needed) return true;
    const int64_t oldLength = ringLength;
    const int64_t taken = zeroedBytes + releasedBytes + liveBytes();
    const bool wraps = reclaimFrom + taken > oldLength;
    // The end of the run once the ring is longer.
    const int64_t runEnd = wraps ? oldLength + tail - HEADER_LENGTH : reclaimFrom + taken;
    int64_t newLength = oldLength;
    while (newLength - runEnd + (wraps ? 0 : reclaimFrom - HEADER_LENGTH) < needed) {
        newLength *= 2;
        if (newLength > MAX_LENGTH) return false;
    }
    if (!wraps) {
        ringLength = newLength;
        tail = runEnd;
        return true;
    }
    // The move changes bytes the read-back covers, so the check comes first.
    if (entryCount > 0 && !matchesDisk()) return fail();
    // The entries past the old end: all of the wrapped part, or from the
    // oldest entry on when that lies in it.
    const bool firstWrapped = entryCount > 0 && first.position < tail;
    const int64_t copyFrom = firstWrapped ? first.position : HEADER_LENGTH;
    const int64_t copyTo = entryCount > 0 ? tail : HEADER_LENGTH;
    for (int64_t offset = copyFrom; offset < copyTo; offset += BLOCK) {
        const auto piece = static_cast<size_t>(std::min(BLOCK, copyTo - offset));
        if (!file->readAt(offset, scratch.data(), piece) ||
            !file->writeAt(oldLength + offset - HEADER_LENGTH, scratch.data(), piece)) {
            return fail();
        }
    }
    syncBeforeHeader = copyTo > copyFrom;
    const int64_t shift = oldLength - HEADER_LENGTH;
    if (firstWrapped) first.position += shift;
    if (entryCount > 0 && last.position < tail) last.position += shift;
    ++layout;
    ringLength = newLength;
    tail = runEnd;
    reclaimFrom = HEADER_LENGTH;
    zeroedBytes = 0;
    releasedBytes = (entryCount > 0 ? first.position : tail) - HEADER_LENGTH;
    // The copy kept the newest entry's bytes, which the read-back starts at.
    if (entryCount > 0) checkFrom = last.position;
    return true;
}

}  // namespace Corvex::Tracking
