// Which queue file of a save folder holds an application's events, so that a
// queue only ever goes out under the key that accepted it. The first
// application on a folder owns `.event_queue`: it claims the file by creating
// `.event_queue.owner`, which names the digest of its key. Every other key
// keeps `.event_queue.<digest>` with its own lock, so applications sharing a
// folder each keep their queue saved, also while running at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace Corvex::Tracking {

class QueueFileOwner {
public:
    static constexpr const char* SHARED_FILE_NAME = ".event_queue";
    // How long a reader waits for a claim under way to settle: its owner file
    // is written within microseconds of its creation.
    static constexpr int64_t CLAIM_WAIT_MS = 100;

    // 64-bit FNV-1a of the key's bytes, as 16 lower-case hex digits: the text
    // of the owner file and of the names of the other keys' files.
    static std::string digestOf(std::string_view key);

    QueueFileOwner(const std::string& saveFolder, std::string_view key);

    // Takes into `lock` the lock of the key's queue file and gives the file's
    // path: `.event_queue` when the owner file names the key (claiming it
    // when none does), else `.event_queue.<digest>`. "" when that lock is held
    // elsewhere or a claim cannot be settled: the queue then stays in memory.
    std::string lockQueueFile(Platform::FileLock& lock) const;

private:
    enum class Claim {
        None,       // no owner file
        Ours,       // it names this key
        Others,     // it names another key
        Unsettled,  // empty, invalid or unreadable: a claim under way, or one
                    // a power cut interrupted
    };
    Claim readClaim() const;
    // With the shared file's lock held: settles the claim and gives the path
    // of the key's file, "" to look again.
    std::string claimLocked(Platform::FileLock& lock) const;
    static std::string lockFile(Platform::FileLock& lock, const std::string& path);

    std::string keyDigest;
    std::string sharedFile;
    std::string ownerFile;
    std::string ownFile;
};

}  // namespace Corvex::Tracking
