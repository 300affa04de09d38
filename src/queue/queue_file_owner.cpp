#include "queue/queue_file_owner.h"

#include <chrono>
#include <thread>

namespace Corvex::Tracking {

namespace {

constexpr uint64_t FNV_OFFSET_BASIS = 0xcbf29ce484222325ULL;
constexpr uint64_t FNV_PRIME = 0x100000001b3ULL;
constexpr size_t DIGEST_LENGTH = 16;
constexpr const char* OWNER_SUFFIX = ".owner";
constexpr const char* LOCK_SUFFIX = ".lock";
// The pause between two looks at a claim under way.
constexpr int64_t CLAIM_POLL_MS = 5;

bool isDigestCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string QueueFileOwner::digestOf(std::string_view key) {
    uint64_t hash = FNV_OFFSET_BASIS;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= FNV_PRIME;
    }
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string digest(DIGEST_LENGTH, '0');
    for (size_t i = DIGEST_LENGTH; i-- > 0; hash >>= 4) digest[i] = DIGITS[hash & 0xf];
    return digest;
}

QueueFileOwner::QueueFileOwner(const std::string& saveFolder, std::string_view key)
    : keyDigest(digestOf(key)),
      sharedFile(saveFolder + Platform::PATH_SEPARATOR + SHARED_FILE_NAME),
      ownerFile(sharedFile + OWNER_SUFFIX),
      ownFile(sharedFile + "." + keyDigest) {}

std::string QueueFileOwner::lockQueueFile(Platform::FileLock& lock) const {
    const int64_t deadline = Platform::coarseMonotonicMs() + CLAIM_WAIT_MS;
    for (;;) {
        switch (readClaim()) {
            case Claim::Ours: return lockFile(lock, sharedFile);
            case Claim::Others: return lockFile(lock, ownFile);
            case Claim::None:
            case Claim::Unsettled: break;
        }
        // A key with a file of its own keeps it: it took that file after
        // reading an owner file that a power cut then undid, and its events
        // would be left behind if it claimed the shared file now.
        if (Platform::fileExists(ownFile)) return lockFile(lock, ownFile);
        // Owner files are written only under the shared file's lock, so its
        // holder finds no claim under way.
        if (lock.tryLock(sharedFile + LOCK_SUFFIX)) return claimLocked(lock);
        // The holder is claiming, or uses a file without an owner (an earlier
        // version of the library): the queue stays in memory.
        if (Platform::coarseMonotonicMs() >= deadline) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(CLAIM_POLL_MS));
    }
}

std::string QueueFileOwner::claimLocked(Platform::FileLock& lock) const {
    const std::string text = keyDigest + "\n";
    Claim claim = readClaim();
    if (claim == Claim::None) {
        // Durable with its folder before the first append: the shared file
        // never holds events of a key that a power cut could disown.
        switch (Platform::createFileExclusive(ownerFile, text)) {
            case Platform::CreateFileResult::Created: return sharedFile;
            case Platform::CreateFileResult::AlreadyExists: break;
            case Platform::CreateFileResult::Failed: lock.release(); return "";
        }
        // Made meanwhile by someone who does not take the lock, or a link
        // planted under the name.
        claim = readClaim();
    }
    switch (claim) {
        case Claim::Ours: return sharedFile;
        case Claim::Others: lock.release(); return lockFile(lock, ownFile);
        case Claim::None:
        case Claim::Unsettled: break;
    }
    // No claim is under way while the lock is ours: this one was cut short.
    if (Platform::replaceFileContents(ownerFile, text)) return sharedFile;
    lock.release();
    return "";
}

QueueFileOwner::Claim QueueFileOwner::readClaim() const {
    std::string text;
    if (!Platform::readWholeFile(ownerFile, text)) {
        return Platform::fileExists(ownerFile) ? Claim::Unsettled : Claim::None;
    }
    if (text.size() != DIGEST_LENGTH + 1 || text.back() != '\n') return Claim::Unsettled;
    for (size_t i = 0; i < DIGEST_LENGTH; ++i) {
        if (!isDigestCharacter(text[i])) return Claim::Unsettled;
    }
    return text.compare(0, DIGEST_LENGTH, keyDigest) == 0 ? Claim::Ours : Claim::Others;
}

std::string QueueFileOwner::lockFile(Platform::FileLock& lock, const std::string& path) {
    return lock.tryLock(path + LOCK_SUFFIX) ? path : std::string();
}

}  // namespace Corvex::Tracking
