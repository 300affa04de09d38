#include "reliability/export_table.h"

#include <stdexcept>

#include "corvex/tracking.h"

namespace Corvex::Tracking::Testing {

std::vector<ExportEntry> exportSignatures() {
#define CORVEX_SIGNATURE_ENTRY(name, shape) {#name, shape, nullptr},
    return {CORVEX_EXPORT_TABLE(CORVEX_SIGNATURE_ENTRY)};
#undef CORVEX_SIGNATURE_ENTRY
}

std::string argumentKinds(const std::string& shape) {
    const size_t colon = shape.find(':');
    return colon == std::string::npos ? std::string() : shape.substr(colon + 1);
}

char resultKind(const std::string& shape) {
    return shape.empty() ? '?' : shape[0];
}

namespace {

template <typename Result, typename... Args>
Result call(void* function, Args... args) {
    return reinterpret_cast<Result (*)(Args...)>(function)(args...);
}

}  // namespace

void* callExport(const ExportEntry& entry, const std::vector<ExportArgument>& a) {
    const std::string& shape = entry.shape;
    void* f = entry.function;
    if (argumentKinds(shape).size() != a.size()) {
        throw std::logic_error(entry.name + ": wrong number of arguments");
    }
    const auto D = [&](size_t i) { return static_cast<InitializationData*>(a[i].pointer); };
    const auto H = [&](size_t i) { return static_cast<TrackingManager*>(a[i].pointer); };
    const auto S = [&](size_t i) { return a[i].text; };
    const auto I = [&](size_t i) { return a[i].number; };
    const auto F = [&](size_t i) { return a[i].price; };

    if (shape == "D:") return call<InitializationData*>(f);
    if (shape == "s:") return call<char*>(f);
    if (shape == "H:SSD") {
        return call<TrackingManager*>(f, S(0), S(1), static_cast<const InitializationData*>(D(2)));
    }
    if (shape == "s:H") return call<char*>(f, H(0));
    if (shape == "v:D") {
        call<void>(f, D(0));
    } else if (shape == "v:DS") {
        call<void>(f, D(0), S(1));
    } else if (shape == "v:DI") {
        call<void>(f, D(0), I(1));
    } else if (shape == "v:H") {
        call<void>(f, H(0));
    } else if (shape == "v:HS") {
        call<void>(f, H(0), S(1));
    } else if (shape == "v:HI") {
        call<void>(f, H(0), I(1));
    } else if (shape == "v:HIS") {
        call<void>(f, H(0), I(1), S(2));
    } else if (shape == "v:HISI") {
        call<void>(f, H(0), I(1), S(2), I(3));
    } else if (shape == "v:HSI") {
        call<void>(f, H(0), S(1), I(2));
    } else if (shape == "v:HSII") {
        call<void>(f, H(0), S(1), I(2), I(3));
    } else if (shape == "v:HSS") {
        call<void>(f, H(0), S(1), S(2));
    } else if (shape == "v:HSFI") {
        call<void>(f, H(0), S(1), F(2), I(3));
    } else if (shape == "v:HSFIS") {
        call<void>(f, H(0), S(1), F(2), I(3), S(4));
    } else if (shape == "v:HSFISI") {
        call<void>(f, H(0), S(1), F(2), I(3), S(4), I(5));
    } else if (shape == "v:HSFISS") {
        call<void>(f, H(0), S(1), F(2), I(3), S(4), S(5));
    } else {
        throw std::logic_error(entry.name + ": unknown shape " + shape);
    }
    return nullptr;
}

}  // namespace Corvex::Tracking::Testing
