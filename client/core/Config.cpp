#include "client/core/Config.h"

#include <algorithm>
#include <sstream>

#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/core/TextHelpers.h"
#include "client/core/XmlSupport.h"

namespace {
const char kRoot[] = "DravikClient";

std::int32_t ClampCount(std::int32_t v) { return v <= 0 ? 1 : std::min<std::int32_t>(v, 10); }
const char* BoolText(bool v) { return v ? "true" : "false"; }
}  // namespace

void Config::SetListInterval(std::uint32_t v) {
    FreshCloudDirectoryListInterval = v < kListIntervalLow ? kListIntervalLow : std::min(v, kListIntervalHigh);
}

void Config::SetTransferCount(std::int32_t v) { TransFileNumberAtSameTime = ClampCount(v); }

int Config::ToXml(std::string& out) const {
    rapidxml::xml_document<> doc;
    xmlsupport::StartDocument(doc);
    auto* root = doc.allocate_node(rapidxml::node_element, kRoot);
    root->append_attribute(doc.allocate_attribute("type", "Configuration"));
    doc.append_node(root);
    const auto add = [&](const char* name, std::string_view value) {
        root->append_node(doc.allocate_node(rapidxml::node_element, name, xmlsupport::Keep(doc, value)));
    };
    add("DefaultDomainName", DefaultDomainName);
    add("EnabledAdvanceLogin", BoolText(EnabledAdvanceLogin));
    add("DefaultLanguageCode", DefaultLanguageCode);
    add("FreshCloudDirectoryListInterval", std::to_string(static_cast<std::int32_t>(FreshCloudDirectoryListInterval)));
    add("FreshCloudDirectoryUsePage", BoolText(FreshCloudDirectoryUsePage));
    add("FreshCloudDirectoryPageSize", std::to_string(static_cast<std::int32_t>(FreshCloudDirectoryPageSize)));
    add("TransFileNumberAtSameTime", std::to_string(TransFileNumberAtSameTime));
    add("EditFileNumberAtSameTime", std::to_string(EditFileNumberAtSameTime));
    if (UpdateSiteAddress != kDefaultUpdateSite) add("UpdateSiteAddress", UpdateSiteAddress);
    if (!CaFile.empty()) add("CaFile", CaFile);
    out = xmlsupport::Print(doc);
    return 1;
}

Config::ReadResult Config::Read(std::string_view text) {
    xmlsupport::ParsedXml xml;
    if (!xml.Parse(text)) return ReadResult::NotConfig;
    rapidxml::xml_node<>* root = xml.Root(kRoot);
    if (!root) return ReadResult::NotConfig;
    if (rapidxml::xml_node<>* site = root->first_node("UpdateSiteAddress")) {
        UpdateSiteAddress = xmlsupport::ValueOf(site);
    }
    if (rapidxml::xml_node<>* caFile = root->first_node("CaFile")) CaFile = xmlsupport::ValueOf(caFile);

    // Settings in file order; the first one missing ends the read.
    const auto value = [&](const char* name, std::string& out) {
        rapidxml::xml_node<>* node = root->first_node(name);
        if (!node) return false;
        out = xmlsupport::ValueOf(node);
        return true;
    };
    std::string v;
    if (!value("DefaultDomainName", v)) return ReadResult::Incomplete;
    DefaultDomainName = v;
    if (!value("EnabledAdvanceLogin", v)) return ReadResult::Incomplete;
    EnabledAdvanceLogin = v == "true";
    if (!value("DefaultLanguageCode", v)) return ReadResult::Incomplete;
    DefaultLanguageCode = v;
    if (!value("FreshCloudDirectoryListInterval", v)) return ReadResult::Incomplete;
    SetListInterval(static_cast<std::uint32_t>(ParseLeadingInt(v)));
    if (!value("FreshCloudDirectoryUsePage", v)) return ReadResult::Incomplete;
    FreshCloudDirectoryUsePage = v == "true";
    if (!value("FreshCloudDirectoryPageSize", v)) return ReadResult::Incomplete;
    FreshCloudDirectoryPageSize = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(ParseLeadingInt(v)), 20, 2000);
    if (!value("TransFileNumberAtSameTime", v)) return ReadResult::Incomplete;
    SetTransferCount(ParseLeadingInt(v));
    if (!value("EditFileNumberAtSameTime", v)) return ReadResult::Incomplete;
    EditFileNumberAtSameTime = ClampCount(ParseLeadingInt(v));
    return ReadResult::Complete;
}

bool LoadConfigFile(const std::string& path, Config& config) {
    std::string text;
    const FileRead read = ReadWholeFile(path, text);
    if (read == FileRead::Missing) return false;
    if (read == FileRead::Read && text.empty()) return false;
    // A file that cannot be read or is not a configuration is kept, under another name.
    const Config::ReadResult result = read == FileRead::Read ? config.Read(text) : Config::ReadResult::NotConfig;
    if (result == Config::ReadResult::NotConfig) {
        const std::string aside = SetFileAside(path);
        std::ostringstream line;
        line << "<config>" << path << " is not a readable configuration; "
             << (aside.empty() ? std::string("it could not be moved aside") : "kept as " + aside);
        LogClientInfo(line.str());
        return false;
    }
    return result == Config::ReadResult::Complete;
}

bool SaveConfigFile(const std::string& path, const Config& config) {
    std::string text;
    config.ToXml(text);
    return WriteFileReplacing(path, text, 0644);
}
