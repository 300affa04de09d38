// One tracked occurrence and its JSON form, shared by the queue file and the
// request body.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace Corvex::Tracking {

// The JSON library's null constructor is noexcept but reaches a throw that
// the analysis cannot rule out, which the library itself marks the same way.
// NOLINTNEXTLINE(bugprone-exception-escape)
class TrackingEvent {
public:
    std::string eId;
    std::string eventName;
    nlohmann::json value;
    std::string id;
    int64_t timeInMs = 0;
    std::string cfgId;
    std::string appVersion;

    // The compact JSON text the queue keeps for the record while it waits:
    // its file entry and its part of a request body. Set by the queue, which
    // clears it when it hands the record out again.
    std::string queuedText;

    // The object with all seven members.
    nlohmann::json toJson() const;
    // The compact text of toJson(): raw UTF-8, members in key order. Throws
    // the JSON library's type error 316 for invalid UTF-8.
    std::string toJsonText() const;
    // Appends the same text to out, written directly rather than through a
    // document. On a throw, out keeps what was appended before the fault.
    void appendJsonText(std::string& out) const;
    // Overwrites the fields from a JSON object; throws the JSON library's
    // errors for a value that is not an object or a member of the wrong type.
    void fromJson(const nlohmann::json& object);
    // Parses one JSON value strictly, then fromJson. The text may nest one
    // level deeper than MAX_JSON_DEPTH: the record's object around a value
    // at the limit.
    void fromJsonText(const char* text);
    // Fills the fields from a text the queue file kept and writes queuedText
    // anew from them (another writer may have used another form: key order,
    // spacing, escapes). False, with the fields unspecified, when the text is
    // not an event's object or holds a NUL: no event text does, while a torn
    // entry reads as zeros where its pages did not reach the disk.
    bool restoreFromSavedText(const std::string& text);
    // Drops the value and frees every string buffer, so that a record kept
    // for reuse after a large event holds none of its memory.
    void releaseBuffers();

    // Payload builders: each replaces `value` with its object.
    void setAdValue(const std::string& adUnit, int32_t placementType, int32_t placement);
    void setLevelValue(int32_t level, const std::string& label);
    void setBootTimeValue(int64_t bootTime);
    void setIapStatusValue(const std::string& status, int32_t storeType);
    void setStoreTypeValue(int32_t storeType);
    void setPurchaseValue(const std::string& pack, float price, int32_t amount,
                          const std::string& currency, int32_t storeType);
    void setFacebookValue(const std::string& facebookId);
    void setUpdateValue(const std::string& currentVersion, const std::string& newVersion);
    void setSoundModeValue(const std::string& soundMode);
    void setTrackingStatusValue(int32_t status);
    void setAccountValue(const std::string& accountId, const std::string& type);
    void setWalletValue(const std::string& wallet, const std::string& chain);
    void setCryptoPaymentValue(const std::string& pack, float price, int32_t amount,
                               const std::string& currency, const std::string& chain);
    void setOpenValue(const std::string& address, const std::string& country,
                      const std::string& deviceModel, const std::string& osVersion,
                      const std::string& appVersion, const std::string& buildNumber,
                      const std::string& configId);
    // Custom payloads: {"value": n}, {"value": "text"}, and the JSON value a
    // text denotes (null when it is empty or does not parse).
    void setIntValue(int32_t number);
    void setStringValue(const std::string& text);
    void setValueFromJsonText(const std::string& text);
};

// Milliseconds as a signed 64-bit count from a JSON floating-point number:
// truncated toward zero, saturated at the range's ends, NaN as 0.
int64_t saturatingMilliseconds(double number);

}  // namespace Corvex::Tracking
