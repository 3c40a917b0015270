#include "client/core/EditRecords.h"

#include <utility>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "client/core/TransferRecords.h"

std::string EditTaskFolderName(const std::string& reference) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (const char c : ReferenceIdPart(reference)) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_';
        if (plain) {
            name += c;
        } else {
            name += '%';
            name += kHex[u >> 4];
            name += kHex[u & 0x0F];
        }
    }
    return name;
}

std::int64_t EditRetryDelay(int failures, std::int64_t firstMs, std::int64_t maxMs) {
    std::int64_t delay = firstMs < 1 ? 1 : firstMs;
    for (int i = 1; i < failures && delay < maxMs; ++i) delay = delay <= maxMs / 2 ? delay * 2 : maxMs;
    return delay < maxMs ? delay : maxMs;
}

bool EditWatchLasts(bool fileInUse, std::int64_t msSinceLastWrite, std::int64_t graceMs) {
    return fileInUse || msSinceLastWrite < graceMs;
}

namespace {

// The members of the record as they are named in its text.
const std::pair<const char*, std::string EditCopyRecord::*> kMembers[] = {
    {"reference", &EditCopyRecord::reference},
    {"parentRef", &EditCopyRecord::parentRef},
    {"remoteFolderPath", &EditCopyRecord::remoteFolderPath},
    {"remoteName", &EditCopyRecord::remoteName},
    {"account", &EditCopyRecord::account},
    {"server", &EditCopyRecord::server},
    {"uploadedMD5", &EditCopyRecord::uploadedMD5},
};

}  // namespace

std::string EditCopyRecord::ToText() const {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [key, member] : kMembers) {
        const std::string& value = this->*member;
        writer.Key(key);
        writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool EditCopyRecord::FromText(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    EditCopyRecord read;
    for (const auto& [key, member] : kMembers) {
        const auto it = doc.FindMember(key);
        if (it == doc.MemberEnd() || !it->value.IsString()) return false;
        (read.*member).assign(it->value.GetString(), it->value.GetStringLength());
    }
    *this = std::move(read);
    return true;
}
